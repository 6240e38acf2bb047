// mkcolormap: builds a colour-map file from the inputs an INI file lists.
#include <allegro.h>

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/start_library.h"
#include "colormap/build_colormap.h"
#include "colormap/platform.h"
#include "colormap/run.h"

namespace {

constexpr char kVersion[] = MKCOLORMAP_VERSION;  // from CMake's project(), "1.00"

// The console driver would drop every non-ASCII character; paths must be
// shown exactly as given, so the text goes to standard output as it is.
void print_message(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Like other command-line tools: a message that could not be written (a full
// disk, a closed or broken standard output) makes the run fail.
bool messages_written() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

void set_title(const char* program_path) {
  // Some launchers start a program with no arguments at all, not even its path.
  const char* name = get_filename(program_path ? program_path : "");
  const int length = std::snprintf(nullptr, 0, "%s v%s", name, kVersion);
  std::string title(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&title[0], title.size(), "%s v%s", name, kVersion);
  set_window_title(title.c_str());
}

// Opening the output would empty the INI file before its first row is read,
// or, for a FIFO, feed the run its own entries as rows.
bool is_ini_file(const char* output_path, const IniStream& ini) {
  platform::FileIdentity output;
  return platform::identity_of_path(output_path, &output) &&
         (ini.same_regular_file_as(output) ||
          platform::same_file_written_back(ini.identity(), output));
}

// Closes both streams of a finished run; every byte written must have reached
// the file, or the run fails.
bool finish_run(const RunSettings& settings, RunStreams& streams) {
  streams.ini.close();
  // Flushed apart from closing: some C libraries (Wine's msvcrt) let fclose
  // succeed when its last write failed.
  const bool written = std::fflush(streams.output) == 0 && !std::ferror(streams.output);
  const bool closed = std::fclose(streams.output) == 0;
  streams.output = nullptr;
  platform::move_messages_past_output(streams.output_identity);
  if (!written || !closed) {
    report("ERROR. Can't write file \"%s\".\n", settings.output_path.c_str());
    return false;
  }
  return true;
}

int run(int argc, char* argv[]) {
  if (!start_library(print_message)) {
    report("ERROR. Can't install the Allegro library.\n");
    return 1;
  }
  set_title(argc > 0 ? argv[0] : nullptr);

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
  streams.output = platform::create_output(output_path);
  if (!streams.output) {
    streams.ini.close();
    report("ERROR. Can't create file \"%s\".\n", output_path);
    return 1;
  }
  if (!platform::identity_of_stream(streams.output, &streams.output_identity)) {
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

int main(int argc, char* argv[]) {
  platform::prepare_process();
  const int status = run(argc, argv);
  return messages_written() ? status : 1;
}
END_OF_MAIN()
