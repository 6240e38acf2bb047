// A file's bytes held in memory, handed to the library as a read-only
// packfile, so that a small image is read from disk once and then checked
// and decoded from memory.
#pragma once

#include <allegro.h>

#include <cstddef>

struct MemoryFile {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
};

// Opens `file` from its start; close with pack_fclose. `file` must outlive
// the packfile. Reads behave as on a plain file: EOF past the end, and the
// end-of-file flag set once the last byte has been read.
PACKFILE* open_memory_packfile(MemoryFile* file);
