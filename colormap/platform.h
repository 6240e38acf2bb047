// What the operating system provides to a run: opening and reading files,
// telling which file a path or a stream is, the output file and the copy of
// a raw file into it, and the process's standard streams. Each platform
// implements this in a file of its own (platform_posix.cc,
// platform_windows.cc); nothing else in the tool calls the system directly.
// splitcolormap also makes files and folders of its own through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Which file something is: a regular file, or a FIFO, a pipe, a terminal, a
// socket or a device, where the platform can tell one from another.
struct FileIdentity {
  bool known = false;  // volume and index name this one file, whatever its kind
  bool regular = false;
  bool fifo = false;         // a named FIFO or a pipe
  std::uint64_t volume = 0;  // the device, or the volume's serial number
  std::uint64_t index = 0;   // the inode, or the file index on that volume
};

inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

// Only a regular file can be truncated or grown by accident: a terminal or
// a null device shared by the INI file and the output is harmless.
inline bool same_regular_file(const FileIdentity& a, const FileIdentity& b) {
  return a.regular && b.regular && same_file(a, b);
}

// An INI file that is the output: a regular file would be emptied before its
// first row is read, and a FIFO would hand the run its own entries as rows,
// then wait for ever on the write end the run holds.
inline bool same_file_written_back(const FileIdentity& a, const FileIdentity& b) {
  return (a.regular || a.fifo) && (b.regular || b.fifo) && same_file(a, b);
}

// The identity of what `path` names, links followed. False when it names
// nothing that can be looked at.
bool identity_of_path(const char* path, FileIdentity* identity);

// A file open for reading, closed when this goes.
class InputFile {
 public:
  enum class Kind {
    Any,          // whatever the path names: the INI file and raw files
    RegularOnly,  // a regular file, or nothing: a FIFO or a device is never waited on
  };

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  bool open(const char* path, Kind kind);

  // Opens a raw file to be copied, whatever its kind, unless it is the file
  // `output` identifies, which is then neither read nor waited on: the run
  // holds its write end, so reading a FIFO, a pipe or a terminal that is the
  // output would wait for ever. Nor is a pipe that the run's messages go to
  // read, for the same reason (No).
  enum class Opened { Yes, No, IsOutput };
  Opened open_unless_output(const char* path, const FileIdentity& output);
  bool is_open() const { return handle_ != kClosed; }
  void close();

  // Whether this is the regular file `other` identifies.
  bool same_regular_file_as(const FileIdentity& other) const;
  // The identity taken when opened (on Windows without the volume, which is
  // looked up only by same_regular_file_as).
  const FileIdentity& identity() const { return identity_; }
  // A regular file's size when opened; 0 for anything else.
  std::uint64_t size() const { return size_; }

  // One read of up to `size` bytes: fewer when the file ends or a pipe has
  // no more yet, 0 at the end, -1 on a read error.
  long read(void* out, std::size_t size);
  // The same from `offset` on, wherever the last read stopped.
  long read_at(void* out, std::size_t size, std::uint64_t offset);
  // Where the first byte at or past `offset` that may be other than zero
  // lies: past a hole of a sparse file, which reads as zeros and need not be
  // read; UINT64_MAX when only a hole follows. `offset` itself where the
  // system does not tell. Moves where the next read() starts.
  std::uint64_t data_from(std::uint64_t offset);

  // The system's handle (a file descriptor or a HANDLE), for this unit only.
  std::intptr_t handle() const { return handle_; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
  FileIdentity identity_;  // taken when opened; the volume may be left for later
  std::uint64_t size_ = 0;
};

// Creates the output file, or empties it, for writing bytes unchanged.
std::FILE* create_output(const char* path);

// Creates a file for writing bytes unchanged, only where nothing is yet: a
// file, a folder or a link (dangling or not) already at `path` is never
// opened, followed or emptied, and `*existed` then says so. Null on failure.
std::FILE* create_new_file(const char* path, bool* existed);

// Moves the file `from` to the name `to` in the same folder, replacing the
// entry there: a file, or a link, which is replaced itself and never
// followed. Never a folder. The file at `from` must be closed.
bool replace_file(const char* from, const char* to);

// Removes a file this run made at `path`, never a folder. Only for the
// run's own files: on Windows, a link there may be followed (Wine's
// DeleteFileW follows a Unix link), so another's entry is replaced by one
// of the run's own first (replace_file).
bool remove_file(const char* path);

// What is at `path` itself, a link not followed: nothing, a folder (on
// Windows, also a link to a folder, which cannot be replaced either), or
// anything else (a file, a link, a device). Where the system hides a link
// (Wine shows one to a file as that file), it is what it leads to; a
// dangling link there may be nothing.
enum class Entry { None, Folder, Other };
Entry entry_at(const char* path);

// Whether `path` names anything at all, a dangling link included where the
// system shows one.
inline bool path_exists(const char* path) { return entry_at(path) != Entry::None; }

// This process's number, which no other running process has: part of the
// names of temporary files.
unsigned long process_id();

enum class FolderResult { Created, Existed, NotAFolder, Failed };

// Makes the folder `path` (not its parents), or finds one already there.
FolderResult make_folder(const char* path);

// Removes the folder at `path` if it is empty.
bool remove_empty_folder(const char* path);

// The path of `name` inside `folder`, as given: a separator is added only
// where `folder` does not end in one.
std::string path_in_folder(const std::string& folder, const std::string& name);

// The identity of the file an open stream writes to.
bool identity_of_stream(std::FILE* stream, FileIdentity* identity);

enum class CopyResult { Done, UnreadableFile, ReadFailed, WriteFailed };

// Appends what is left of `in` to `out`, whose buffer the caller has
// flushed: in large blocks, or by the system without a trip through the
// process where it can. UnreadableFile when the very first read fails (a
// directory, say).
CopyResult copy_to_output(InputFile& in, std::FILE* out);

// Done first thing in main: a full disk, a file-size limit or a reader that
// went away must end in a failed write and its message, not in a signal or
// a dialog box; and a closed standard stream must not hand its number to
// the INI or the output file, where messages would land.
void prepare_process();

// When standard output is the output file itself (`mkcolormap maps.ini
// /dev/stdout > out.bin`), it has an offset of its own and a message would
// overwrite the first bytes of the colour map. Call once the output is
// closed: messages then come after the data, as through a pipe.
void move_messages_past_output(const FileIdentity& output);

}  // namespace platform
