#include "colormap/image_source.h"

bool ImageSource::open(const char* path) {
  if (!file_.open(path, platform::InputFile::Kind::RegularOnly)) return false;
  left_ = file_.size();
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
