#include "colormap/image_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

ImageSource::~ImageSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool ImageSource::open(const char* path) {
  // Non-blocking, so that a FIFO is never waited on; only a regular file is
  // then read. (A writer waiting on the FIFO is let go and finds no reader,
  // as when any reader goes away, rather than wait for ever.) A regular
  // file under another process's lease (a file server's) refuses such an
  // open rather than wait for the lease to be given up, as a plain open
  // does; so that case is opened plainly.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  fd_ = ::open(path, kFlags | O_NONBLOCK);
  if (fd_ < 0 && errno == EWOULDBLOCK) fd_ = ::open(path, kFlags);
  if (fd_ < 0) return false;
  if (::fstat(fd_, &stat_) != 0 || !S_ISREG(stat_.st_mode)) return false;
  left_ = static_cast<std::uint64_t>(stat_.st_size);
  return true;
}

long ImageSource::read(unsigned char* out, std::size_t size) {
  if (size > left_) size = static_cast<std::size_t>(left_);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t part = ::read(fd_, out + got, size - got);
    if (part == 0) break;
    if (part < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::size_t>(part);
  }
  left_ -= got;
  return static_cast<long>(got);
}
