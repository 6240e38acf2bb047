// The state one run shares between the front end, the row loop and the entry
// writers, and the single way a run fails.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "colormap/rows.h"

struct RunSettings {
  std::string ini_path;
  std::string output_path;
  bool quiet = false;
};

struct RunStreams {
  IniStream ini;
  FILE* output = nullptr;        // binary, write
  struct stat output_stat = {};  // taken once, to spot rows that name the output
};

// Formats a message and reports it through allegro_message. Paths travel as
// one "%s" argument so the library copies them unchanged.
[[gnu::format(printf, 1, 2)]] void report(const char* format, ...);

// Opening /dev/stdout as the output gives the file that standard output
// writes to a second offset; without this a message would overwrite the
// first bytes of the colour map. Call once the output is closed: messages
// then come after the data, as through a pipe.
void move_messages_past_output(const struct stat& output_stat);

// Closes the INI stream, then the output stream. Results are ignored: this is
// only called when the run has already failed.
void close_run_streams(RunStreams& streams);

// Ends a failed run: closes both streams, then reports the message. Always
// returns false so that callers can `return fail_run(...)`.
[[gnu::format(printf, 2, 3)]] bool fail_run(RunStreams& streams, const char* format, ...);

// Fails the run with the message for output that could not be written.
bool fail_write(RunStreams& streams, const RunSettings& settings);

// True when both name the same regular file. Only regular files can be
// truncated or grown by accident; a terminal or /dev/null shared by input and
// output is harmless.
bool same_regular_file(const struct stat& a, const struct stat& b);
