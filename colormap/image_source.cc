#include "colormap/image_source.h"

bool ImageSource::open(const char* path) {
  if (!file_.open(path, platform::InputFile::Kind::RegularOnly)) return false;
  size_ = file_.size();
  left_ = size_;
  return true;
}

long ImageSource::read(unsigned char* out, std::size_t size) {
  if (size > left_) size = static_cast<std::size_t>(left_);
  std::size_t got = 0;
  while (got < size) {
    const long part = file_.read(out + got, size - got);
    if (part == 0) break;
    if (part < 0) return -1;
    got += static_cast<std::size_t>(part);
  }
  left_ -= got;
  return static_cast<long>(got);
}

long ImageSource::read_at(unsigned char* out, std::size_t size, std::uint64_t offset) {
  const std::uint64_t left = offset < size_ ? size_ - offset : 0;
  if (size > left) size = static_cast<std::size_t>(left);
  std::size_t got = 0;
  while (got < size) {
    const long part = file_.read_at(out + got, size - got, offset + got);
    if (part == 0) break;
    if (part < 0) return -1;
    got += static_cast<std::size_t>(part);
  }
  return static_cast<long>(got);
}
