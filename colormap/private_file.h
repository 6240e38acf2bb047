// A file only this process can see, for the image bytes that the library's
// loaders must read by path (the LBM loader takes nothing else, and large
// files are not held in memory). Once sealed, nobody can change it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

class PrivateFile {
 public:
  PrivateFile() = default;
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;
  ~PrivateFile();

  // An anonymous memory file where the kernel has them, else an unlinked-on-
  // close file in the temporary folder, readable by this user only.
  bool create();
  bool append(const unsigned char* data, std::size_t size);
  // Makes `data` the whole content, reusing the file: one copy serves every
  // LBM image of a run in turn. Not sealed, since it is written again.
  bool replace(const unsigned char* data, std::size_t size);
  // Forbids further writes where the kernel allows it, and gives the path
  // by which the library opens the file.
  bool finish();
  const char* path() const { return path_.c_str(); }

 private:
  int fd_ = -1;
  std::string path_;
  off_t size_ = 0;
  bool named_ = false;  // a real name in the temporary folder, removed on destruction
};
