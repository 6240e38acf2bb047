#include "colormap/private_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool write_all(int fd, const unsigned char* data, std::size_t size, off_t at) {
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, data, size, at);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    at += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

PrivateFile::~PrivateFile() {
  if (fd_ >= 0) ::close(fd_);
  if (named_) ::unlink(path_.c_str());
}

bool PrivateFile::create() {
  fd_ = ::memfd_create("mkcolormap-image", MFD_CLOEXEC);
  if (fd_ >= 0) {
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    // Without /proc the memory file has no name the library can open.
    if (::access(path_.c_str(), R_OK) == 0) return true;
    ::close(fd_);
    fd_ = -1;
  }
  const char* folder = std::getenv("TMPDIR");
  if (!folder || !*folder || std::strchr(folder, '#')) folder = "/tmp";
  std::string pattern = std::string(folder) + "/mkcolormap-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);  // mode 0600
  if (fd_ < 0) return false;
  path_ = name.data();
  named_ = true;
  return true;
}

bool PrivateFile::replace(const unsigned char* data, std::size_t size) {
  if (fd_ < 0 && !create()) return false;
  if (!write_all(fd_, data, size, 0)) return false;
  // Writing already grew the file as far as needed; only a shorter image
  // leaves bytes of the one before to cut.
  if (static_cast<off_t>(size) < size_ && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    return false;
  }
  size_ = static_cast<off_t>(size);
  return true;
}
