// Turns one image row into its 256-byte entry: the palette index of every
// pixel, line by line from the top-left corner.
#pragma once

#include "colormap/run.h"

// Appends exactly 256 bytes to the output, or fails the run and returns false.
bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams);
