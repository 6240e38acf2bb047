// A file splitcolormap writes: created only where nothing is yet, and every
// write and the close checked.
#pragma once

#include <cstddef>
#include <cstdio>

class NewFile {
 public:
  enum class Created { Yes, Exists, Failed };

  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  // A file not closed by close() is closed here, its result ignored: the
  // run has failed already.
  ~NewFile();

  // Exists when anything at all is at `path`; see platform::create_new_file.
  Created create(const char* path);
  // Writes all of `data`. False once any write has failed, this one or an
  // earlier one.
  bool write(const void* data, std::size_t size);
  bool failed() const { return failed_; }
  // Flushes and closes: true only when every byte written reached the file.
  bool close();

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};
