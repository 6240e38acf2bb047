// mkcolormap: builds a colour-map file from the inputs an INI file lists.
#include <allegro.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "colormap/build_colormap.h"
#include "colormap/run.h"

namespace {

constexpr double kVersion = 1.0;

// The console driver would drop every non-ASCII character; paths must be
// shown exactly as given, so the text goes to standard output as it is.
void print_message(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// The console driver works without a display, so the tool runs from CI, over
// ssh and in containers, and never waits for a click on a message box.
bool start_library() {
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return false;
  system_driver->message = print_message;
  return true;
}

void set_title(const char* program_path) {
  // Some launchers start a program with no arguments at all, not even its path.
  const char* name = get_filename(program_path ? program_path : "");
  const int length = std::snprintf(nullptr, 0, "%s v%0.2f", name, kVersion);
  std::string title(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&title[0], title.size(), "%s v%0.2f", name, kVersion);
  set_window_title(title.c_str());
}

// Opening the output would truncate the INI file before its first row is read.
bool is_ini_file(const char* output_path, const IniStream& ini) {
  struct stat output_stat, ini_stat;
  return stat(output_path, &output_stat) == 0 && fstat(ini.fd(), &ini_stat) == 0 &&
         same_regular_file(output_stat, ini_stat);
}

// Closes both streams of a finished run; every byte written must have reached
// the file, or the run fails.
bool finish_run(const RunSettings& settings, RunStreams& streams) {
  streams.ini.close();
  const bool written = !std::ferror(streams.output);
  const bool closed = std::fclose(streams.output) == 0;
  streams.output = nullptr;
  if (!written || !closed) {
    report("ERROR. Can't write file \"%s\".\n", settings.output_path.c_str());
    return false;
  }
  return true;
}

int run(int argc, char* argv[]) {
  if (!start_library()) {
    report("ERROR. Can't install the Allegro library.\n");
    return 1;
  }
  set_title(argc > 0 ? argv[0] : nullptr);
  set_color_depth(8);
  set_color_conversion(COLORCONV_NONE);

  if (argc <= 1) {
    report("ERROR. You must provide a INI file as the 1st parameter in the command line.\n");
    return 1;
  }
  RunStreams streams;
  if (!streams.ini.open(argv[1])) {
    report("ERROR. Can't open file \"%s\".\n", argv[1]);
    return 1;
  }
  const RunSettings settings = parse_command_line(argc, argv);
  const char* output_path = settings.output_path.c_str();
  if (is_ini_file(output_path, streams.ini)) {
    streams.ini.close();
    report("ERROR. The output file \"%s\" is the INI file.\n", output_path);
    return 1;
  }
  streams.output = std::fopen(output_path, "wb");
  if (!streams.output) {
    streams.ini.close();
    report("ERROR. Can't create file \"%s\".\n", output_path);
    return 1;
  }
  if (fstat(fileno(streams.output), &streams.output_stat) != 0) {
    fail_run(streams, "ERROR. Can't create file \"%s\".\n", output_path);
    return 1;
  }
  if (!build_colormap(settings, streams)) return 1;
  if (!finish_run(settings, streams)) return 1;
  if (!settings.quiet) {
    report("DONE. File \"%s\" sucessfully made based upon file \"%s\"\n", output_path,
           settings.ini_path.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) { return run(argc, argv); }
END_OF_MAIN()
