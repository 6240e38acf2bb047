#include "split/report.h"

#include <cstdarg>
#include <cstdio>

void report_error(const char* format, ...) {
  std::fputs("splitcolormap: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}
