// Turns one binary row into its entry: the named file's bytes, unchanged.
#pragma once

#include "colormap/run.h"

// Appends the whole file to the output, or fails the run and returns false.
bool write_binary_entry(const char* path, const RunSettings& settings, RunStreams& streams);
