// A file only this process can see, for the image bytes that the library's
// LBM loader must read by path.
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

  // Makes `data` the whole content, made on first use and then reused: one
  // copy serves every LBM image of a run in turn.
  bool replace(const unsigned char* data, std::size_t size);
  // The path by which the library opens the file. It never holds '#', which
  // the library would take as naming an object inside a datafile.
  const char* path() const { return path_.c_str(); }

 private:
  // An anonymous memory file where the kernel has them, else an unlinked-on-
  // destruction file in the temporary folder, readable by this user only.
  bool create();

  int fd_ = -1;
  std::string path_;
  off_t size_ = 0;
  bool named_ = false;  // a real name in the temporary folder, removed on destruction
};
