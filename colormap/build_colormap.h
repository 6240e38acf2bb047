// The row loop: reads the INI file row by row and appends each row's entry.
#pragma once

#include "colormap/run.h"

// Returns true when the INI file is exhausted. On failure both streams are
// already closed and the message reported.
bool build_colormap(const RunSettings& settings, RunStreams& streams);
