#include "split/report.h"

#include <cstdarg>
#include <cstdio>

#include "colormap/platform.h"

void report_error(const char* format, ...) {
  std::fputs("splitcolormap: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

bool report_cannot_open(const char* what, const char* path) {
  platform::FileIdentity identity;
  if (!platform::path_exists(path)) {
    report_error("can't open the %s \"%s\": no such file", what, path);
  } else if (platform::identity_of_path(path, &identity) && !identity.regular) {
    report_error("can't open the %s \"%s\": not a regular file", what, path);
  } else {
    report_error("can't open the %s \"%s\"", what, path);
  }
  return false;
}
