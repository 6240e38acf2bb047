#include "split/new_file.h"

#include "colormap/platform.h"

namespace {

// Fresh names are tried up to this many times: only a name left by a run of
// the same process number, or made meanwhile, is ever taken.
constexpr int kTemporaryTries = 100;

}  // namespace

NewFile::~NewFile() {
  if (file_) std::fclose(file_);
  if (!temporary_.empty()) platform::remove_file(temporary_.c_str());
}

NewFile::Created NewFile::create(const char* path) {
  bool existed = false;
  file_ = platform::create_new_file(path, &existed);
  failed_ = !file_;
  placed_ = file_ != nullptr;
  if (file_) return Created::Yes;
  return existed ? Created::Exists : Created::Failed;
}

// Beside the path, so that the move stays on one volume, and ending in
// ".tmp", a name no run writes: NAME.PID.tmp, NAME.PID-1.tmp, ...
NewFile::Created NewFile::create_replacing(const char* path) {
  path_ = path;
  const std::string stem = path_ + '.' + std::to_string(platform::process_id());
  for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
    const std::string name =
        stem + (attempt > 0 ? '-' + std::to_string(attempt) : std::string()) + ".tmp";
    bool existed = false;
    file_ = platform::create_new_file(name.c_str(), &existed);
    if (file_) {
      temporary_ = name;
      failed_ = false;
      return Created::Yes;
    }
    if (!existed) break;
  }
  failed_ = true;
  return Created::Failed;
}

bool NewFile::write(const void* data, std::size_t size) {
  if (!failed_ && size > 0 && std::fwrite(data, 1, size, file_) != size) failed_ = true;
  return !failed_;
}

bool NewFile::close() {
  if (!file_) return false;
  // Flushed apart from closing: some C libraries (Wine's msvcrt) let fclose
  // succeed when its last write failed.
  const bool written = !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  failed_ = !(written && closed);
  return !failed_;
}

bool NewFile::place() {
  if (placed_) return true;
  if (file_ || failed_ || temporary_.empty()) return false;
  placed_ = platform::replace_file(temporary_.c_str(), path_.c_str());
  // Not placed: removed, and the path keeps what it had.
  if (!placed_) platform::remove_file(temporary_.c_str());
  temporary_.clear();
  return placed_;
}
