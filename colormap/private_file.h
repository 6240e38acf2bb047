// A sealed copy of one image's bytes that only this process can see, for the
// library's LBM loader, which reads only by path.
#pragma once

#include <cstddef>
#include <string>

class PrivateFile {
 public:
  PrivateFile() = default;
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;
  ~PrivateFile();

  // An anonymous memory file, written and then sealed so that no process,
  // this one included, can change it once checked: its /proc name is open to
  // other processes of the same user. False where the kernel has no memory
  // files or where /proc does not reach them.
  bool create_sealed(const unsigned char* data, std::size_t size);
  // Else a file in the temporary folder, readable by this user only and
  // removed on destruction.
  bool create_in_temporary_folder(const unsigned char* data, std::size_t size);
  // The path by which the library opens the file. It never holds '#', which
  // the library would take as naming an object inside a datafile.
  const char* path() const { return path_.c_str(); }

 private:
  int fd_ = -1;
  std::string path_;
  bool named_ = false;  // a real name in the temporary folder
};
