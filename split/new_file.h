// A file splitcolormap writes: created only where nothing is yet, or, under
// --force, written under a temporary name beside it and then moved over
// whatever is there; every write and the close checked.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class NewFile {
 public:
  enum class Created { Yes, Exists, Failed };

  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  // A file not closed by close() is closed here, its result ignored: the
  // run has failed already. A temporary file not placed is removed.
  ~NewFile();

  // Exists when anything at all is at `path`; see platform::create_new_file.
  Created create(const char* path);
  // A file that will replace whatever is at `path` (a file, or a link,
  // replaced itself and never followed): written under a fresh name in the
  // same folder, created as create() creates, and moved to `path` by
  // place(). Nothing at `path` changes before then.
  Created create_replacing(const char* path);
  // Writes all of `data`. False once any write has failed, this one or an
  // earlier one.
  bool write(const void* data, std::size_t size);
  bool failed() const { return failed_; }
  // Flushes and closes: true only when every byte written reached the file.
  bool close();
  // Puts a closed file made by create_replacing() at its path, or removes
  // it when that fails. True at once for a file made by create().
  bool place();
  // Whether this file is at its path: since create(), even if writing it
  // failed, or since place().
  bool placed() const { return placed_; }

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool placed_ = false;
  std::string path_;
  std::string temporary_;  // while a replacing file is not placed
};
