// An image row's file, opened once and exactly as named ('#' included: the
// library's datafile convention is never used). Only a regular file is
// read: a FIFO or a device could block the run or never end.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

class ImageSource {
 public:
  ImageSource() = default;
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;
  ~ImageSource();

  // False when the path names no regular file that can be opened for reading.
  bool open(const char* path);
  // The identity, size and times of the file opened.
  const struct stat& file_stat() const { return stat_; }
  // Bytes left of the size the file had when opened; nothing past it is read.
  std::uint64_t left() const { return left_; }
  // Reads up to `size` bytes, fewer only at the end. -1 on a read error.
  long read(unsigned char* out, std::size_t size);

 private:
  int fd_ = -1;
  struct stat stat_ = {};
  std::uint64_t left_ = 0;
};
