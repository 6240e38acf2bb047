// The state one run shares between the front end, the row loop and the entry
// writers, and the single way a run fails.
#pragma once

#include <cstdio>
#include <string>

#include "colormap/platform.h"
#include "colormap/rows.h"

struct RunSettings {
  std::string ini_path;
  std::string output_path;
  bool quiet = false;
};

struct RunStreams {
  IniStream ini;
  FILE* output = nullptr;                  // binary, write
  platform::FileIdentity output_identity;  // taken once, to spot rows that name the output
};

// Formats a message and reports it through allegro_message. Paths travel as
// one "%s" argument so the library copies them unchanged.
[[gnu::format(printf, 1, 2)]] void report(const char* format, ...);

// Closes the INI stream, then the output stream. Results are ignored: this is
// only called when the run has already failed.
void close_run_streams(RunStreams& streams);

// Ends a failed run: closes both streams, then reports the message. Always
// returns false so that callers can `return fail_run(...)`.
[[gnu::format(printf, 2, 3)]] bool fail_run(RunStreams& streams, const char* format, ...);

// Fails the run with the message for output that could not be written.
bool fail_write(RunStreams& streams, const RunSettings& settings);
