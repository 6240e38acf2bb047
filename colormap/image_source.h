// An image row's file, opened once and exactly as named ('#' included: the
// library's datafile convention is never used). Only a regular file is
// read: a FIFO or a device could block the run or never end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colormap/platform.h"

class ImageSource {
 public:
  // False when the path names no regular file that can be opened for reading.
  bool open(const char* path);
  // Whether the file opened is the regular file `other` identifies.
  bool same_regular_file_as(const platform::FileIdentity& other) const {
    return file_.same_regular_file_as(other);
  }
  // Bytes left of the size the file had when opened; nothing past it is read.
  std::uint64_t left() const { return left_; }
  // Reads up to `size` bytes, fewer only at the end. -1 on a read error.
  long read(unsigned char* out, std::size_t size);
  // The size the file had when opened.
  std::uint64_t size() const { return size_; }
  // Reads up to `size` bytes from `offset` on, wherever read() stands; fewer
  // only at the end. -1 on a read error.
  long read_at(unsigned char* out, std::size_t size, std::uint64_t offset);
  // Where the first byte at or past `offset` that may be other than zero
  // lies (see InputFile::data_from), at most the size.
  std::uint64_t data_from(std::uint64_t offset) {
    const std::uint64_t data = file_.data_from(offset);
    return data < size_ ? data : size_;
  }

 private:
  platform::InputFile file_;
  std::uint64_t size_ = 0;
  std::uint64_t left_ = 0;
};
