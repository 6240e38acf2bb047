#include "colormap/private_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool write_all(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

PrivateFile::~PrivateFile() {
  if (fd_ >= 0) ::close(fd_);
  if (named_) ::unlink(path_.c_str());
}

bool PrivateFile::create_sealed(const unsigned char* data, std::size_t size) {
  fd_ = ::memfd_create("mkcolormap-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd_ < 0) return false;
  path_ = "/proc/self/fd/" + std::to_string(fd_);
  return write_all(fd_, data, size) &&
         ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) == 0;
}

bool PrivateFile::create_in_temporary_folder(const unsigned char* data, std::size_t size) {
  const char* folder = std::getenv("TMPDIR");
  if (!folder || !*folder || std::strchr(folder, '#')) folder = "/tmp";
  std::string pattern = std::string(folder) + "/mkcolormap-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);  // mode 0600
  if (fd_ < 0) return false;
  path_ = name.data();
  named_ = true;
  return write_all(fd_, data, size);
}
