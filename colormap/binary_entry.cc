#include "colormap/binary_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

namespace {

// Large enough that the syscall cost vanishes, small enough to stay in cache.
constexpr std::size_t kCopyBlock = 128 * 1024;
// The kernel caps one copy_file_range call; ask for large whole chunks.
constexpr std::size_t kKernelCopyChunk = std::size_t{1} << 30;

enum class CopyResult { Done, UnreadableFile, ReadFailed, WriteFailed };

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

CopyResult copy_file(int in, const struct stat& in_stat, int out) {
  std::uint64_t copied = 0;
  if (S_ISREG(in_stat.st_mode) && in_stat.st_size > 0 && copy_in_kernel(in, out, &copied)) {
    return CopyResult::Done;
  }
  return copy_blocks(in, out, copied);
}

}  // namespace

bool write_binary_entry(const char* path, const RunSettings& settings, RunStreams& streams) {
  const int in = ::open(path, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail_run(streams, "ERROR. Can't open the binary file \"%s\"\n", path);
  const int out = fileno(streams.output);
  struct stat in_stat;
  if (fstat(in, &in_stat) != 0) {
    ::close(in);
    return fail_run(streams, "ERROR. Can't open the binary file \"%s\"\n", path);
  }
  if (same_regular_file(in_stat, streams.output_stat)) {
    // Copying the output into itself would grow it until the disk is full.
    ::close(in);
    return fail_run(streams, "ERROR. The binary file \"%s\" is the output file.\n", path);
  }
  // Earlier entries must reach the file before these bytes do.
  if (std::fflush(streams.output) != 0) {
    ::close(in);
    return fail_write(streams, settings);
  }
  const CopyResult result = copy_file(in, in_stat, out);
  ::close(in);
  switch (result) {
    case CopyResult::Done:
      return true;
    case CopyResult::UnreadableFile:
      return fail_run(streams, "ERROR. Can't open the binary file \"%s\"\n", path);
    case CopyResult::ReadFailed:
      return fail_run(streams, "ERROR. Can't read the binary file \"%s\"\n", path);
    case CopyResult::WriteFailed:
      break;
  }
  return fail_write(streams, settings);
}
