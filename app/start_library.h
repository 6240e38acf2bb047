// Starts the library as both programs need it: no display, no configuration
// file, paths and text as plain bytes, and images loaded at their own depth.
#pragma once

// Returns false when the library could not start. `message` receives what
// the library would otherwise show in a message box.
bool start_library(void (*message)(const char* text));
