// splitcolormap's messages: one line each on standard error, after the
// program's name, as other command-line tools write them.
#pragma once

[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);

// Reports that the file `path`, the `what` of the run ("colour map",
// "palette"), could not be opened for reading, with the reason where the
// system tells it: no such file, or not a regular file. Returns false.
bool report_cannot_open(const char* what, const char* path);
