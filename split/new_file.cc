#include "split/new_file.h"

#include "colormap/platform.h"

NewFile::~NewFile() {
  if (file_) std::fclose(file_);
}

NewFile::Created NewFile::create(const char* path) {
  bool existed = false;
  file_ = platform::create_new_file(path, &existed);
  failed_ = !file_;
  if (file_) return Created::Yes;
  return existed ? Created::Exists : Created::Failed;
}

bool NewFile::write(const void* data, std::size_t size) {
  if (!failed_ && size > 0 && std::fwrite(data, 1, size, file_) != size) failed_ = true;
  return !failed_;
}

bool NewFile::close() {
  if (!file_) return false;
  // Flushed apart from closing: some C libraries (Wine's msvcrt) let fclose
  // succeed when its last write failed.
  const bool written = !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  failed_ = !(written && closed);
  return !failed_;
}
