// The platform on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <limits>
#include <memory>

#include "colormap/platform.h"

namespace platform {

namespace {

// Large enough that the syscall cost vanishes, small enough to stay in cache.
constexpr std::size_t kCopyBlock = 128 * 1024;
// The kernel caps one copy_file_range call; ask for large whole chunks.
constexpr std::size_t kKernelCopyChunk = std::size_t{1} << 30;

FileIdentity identity_of(const struct stat& file) {
  FileIdentity identity;
  identity.known = true;
  identity.regular = S_ISREG(file.st_mode);
  identity.fifo = S_ISFIFO(file.st_mode);
  identity.volume = static_cast<std::uint64_t>(file.st_dev);
  identity.index = static_cast<std::uint64_t>(file.st_ino);
  return identity;
}

int fd_of(const InputFile& file) { return static_cast<int>(file.handle()); }

// Whether `file` is the FIFO or pipe that standard output or error write
// to: its write end is this process's, so reading it would wait for ever.
bool is_message_pipe(const struct stat& file) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream;
    if (::fstat(fd, &stream) == 0 && S_ISFIFO(stream.st_mode) &&
        same_file(identity_of(stream), identity_of(file))) {
      return true;
    }
  }
  return false;
}

bool write_all(int fd, const char* data, std::size_t size) {
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

// Lets the kernel move the bytes without a trip through user space. Returns
// true when it reached the end of the file. It stops early at anything it
// cannot do (another file system, a pipe, a read or write error); the block
// copy then carries on from there and tells a read error from a write error.
bool copy_in_kernel(int in, int out, std::uint64_t* copied) {
  for (;;) {
    const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0);
    if (moved > 0) {
      *copied += static_cast<std::uint64_t>(moved);
    } else if (moved < 0 && errno == EINTR) {
      continue;
    } else {
      // Some file systems answer 0 before copying anything; only trust an
      // end reached after bytes were moved.
      return moved == 0 && *copied > 0;
    }
  }
}

CopyResult copy_blocks(int in, int out, std::uint64_t copied) {
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  for (;;) {
    const ssize_t got = ::read(in, block.get(), kCopyBlock);
    if (got == 0) return CopyResult::Done;
    if (got < 0) {
      if (errno == EINTR) continue;
      return copied == 0 ? CopyResult::UnreadableFile : CopyResult::ReadFailed;
    }
    if (!write_all(out, block.get(), static_cast<std::size_t>(got))) return CopyResult::WriteFailed;
    copied += static_cast<std::uint64_t>(got);
  }
}

}  // namespace

bool identity_of_path(const char* path, FileIdentity* identity) {
  struct stat file;
  if (::stat(path, &file) != 0) return false;
  *identity = identity_of(file);
  return true;
}

bool InputFile::open(const char* path, Kind kind) {
  close();
  int fd;
  if (kind == Kind::Any) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } else {
    // Non-blocking, so that a FIFO is never waited on; only a regular file
    // is then read. (A writer waiting on the FIFO is let go and finds no
    // reader, as when any reader goes away, rather than wait for ever.) A
    // regular file under another process's lease (a file server's) refuses
    // such an open rather than wait for the lease to be given up, as a
    // plain open does; so that case is opened plainly.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
    fd = ::open(path, kFlags | O_NONBLOCK);
    if (fd < 0 && errno == EWOULDBLOCK) fd = ::open(path, kFlags);
  }
  if (fd < 0) return false;
  handle_ = fd;
  struct stat file;
  if (::fstat(fd, &file) != 0 || (kind == Kind::RegularOnly && !S_ISREG(file.st_mode)) ||
      (S_ISFIFO(file.st_mode) && is_message_pipe(file))) {
    close();
    return false;
  }
  identity_ = identity_of(file);
  size_ = identity_.regular ? static_cast<std::uint64_t>(file.st_size) : 0;
  return true;
}

InputFile::Opened InputFile::open_unless_output(const char* path, const FileIdentity& output) {
  close();
  // A plain open, as any reader's: it waits for a FIFO's writer, but never
  // on the output's own FIFO or the pipes the messages go to, whose write
  // ends this process holds. (Opened first without waiting, then again to
  // wait, a FIFO would lose the bytes of a writer let go in between.)
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat file;
  if (fd < 0) {
    // A socket cannot be opened, yet standard output may be one.
    return ::stat(path, &file) == 0 && same_file(identity_of(file), output) ? Opened::IsOutput
                                                                            : Opened::No;
  }
  handle_ = fd;
  if (::fstat(fd, &file) != 0) {
    close();
    return Opened::No;
  }
  identity_ = identity_of(file);
  if (same_file(identity_, output)) {
    close();
    return Opened::IsOutput;
  }
  if (identity_.fifo && is_message_pipe(file)) {
    close();
    return Opened::No;
  }
  size_ = identity_.regular ? static_cast<std::uint64_t>(file.st_size) : 0;
  return Opened::Yes;
}

bool InputFile::same_regular_file_as(const FileIdentity& other) const {
  return same_regular_file(identity_, other);
}

void InputFile::close() {
  if (handle_ != kClosed) ::close(fd_of(*this));
  handle_ = kClosed;
  identity_ = FileIdentity();
  size_ = 0;
}

long InputFile::read(void* out, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_of(*this), out, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

long InputFile::read_at(void* out, std::size_t size, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
  for (;;) {
    const ssize_t got = ::pread(fd_of(*this), out, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

std::uint64_t InputFile::data_from(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return offset;
  const off_t data = ::lseek(fd_of(*this), static_cast<off_t>(offset), SEEK_DATA);
  if (data >= 0) return static_cast<std::uint64_t>(data);
  return errno == ENXIO ? std::numeric_limits<std::uint64_t>::max() : offset;
}

std::FILE* create_output(const char* path) { return std::fopen(path, "wb"); }

std::FILE* create_new_file(const char* path, bool* existed) {
  // O_EXCL: a link at `path` is never followed, even to nowhere.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  *existed = fd < 0 && errno == EEXIST;
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) ::close(fd);
  return file;
}

// rename() replaces the entry `to` itself, whatever it is; a file never
// replaces a folder (EISDIR).
bool replace_file(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool remove_file(const char* path) {
  struct stat file;
  if (::lstat(path, &file) != 0 || S_ISDIR(file.st_mode)) return false;
  return ::unlink(path) == 0;
}

Entry entry_at(const char* path) {
  struct stat file;
  if (::lstat(path, &file) != 0) return Entry::None;
  return S_ISDIR(file.st_mode) ? Entry::Folder : Entry::Other;
}

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

FolderResult make_folder(const char* path) {
  if (::mkdir(path, 0777) == 0) return FolderResult::Created;
  if (errno != EEXIST) return FolderResult::Failed;
  struct stat folder;
  if (::stat(path, &folder) != 0) return FolderResult::Failed;
  return S_ISDIR(folder.st_mode) ? FolderResult::Existed : FolderResult::NotAFolder;
}

bool remove_empty_folder(const char* path) { return ::rmdir(path) == 0; }

std::string path_in_folder(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + '/' + name;
}

bool identity_of_stream(std::FILE* stream, FileIdentity* identity) {
  struct stat file;
  if (::fstat(fileno(stream), &file) != 0) return false;
  *identity = identity_of(file);
  return true;
}

CopyResult copy_to_output(InputFile& in, std::FILE* out) {
  const int in_fd = fd_of(in);
  const int out_fd = fileno(out);
  std::uint64_t copied = 0;
  // Only a regular file has a size.
  if (in.size() > 0 && copy_in_kernel(in_fd, out_fd, &copied)) {
    return CopyResult::Done;
  }
  return copy_blocks(in_fd, out_fd, copied);
}

void prepare_process() {
  // Filled read-only, so that a message written to a closed standard output
  // still fails.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", O_RDONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void move_messages_past_output(const FileIdentity& output) {
  struct stat standard_output;
  if (::fstat(STDOUT_FILENO, &standard_output) == 0 &&
      same_regular_file(identity_of(standard_output), output)) {
    std::fflush(stdout);
    ::lseek(STDOUT_FILENO, 0, SEEK_END);
  }
}

}  // namespace platform
