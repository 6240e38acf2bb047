// The platform on Windows. The application manifest sets the process's code
// page to UTF-8, so the command line arrives as UTF-8, and paths are turned
// into Windows' own UTF-16 with that same code page: the rows and the
// command line name files as UTF-8 text, and bytes that are not UTF-8 name
// no file. Files are read with ReadFile, as bytes: no text mode, so a Ctrl-Z
// or a CR in the INI file or an input means what it means on Linux.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <memory>
#include <string>

#include "colormap/platform.h"

namespace platform {

namespace {

// Large blocks, as each ReadFile and WriteFile is a trip into the kernel,
// but below the 512 KiB from which the heap maps every block afresh: a list
// of many small raw files then reuses one block (1 MiB cost 3 ms a row
// under Wine).
constexpr std::size_t kCopyBlock = 128 * 1024;
// One ReadFile or WriteFile moves at most a DWORD's worth.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// A path as the wide functions take it, converted with the code page the
// narrow functions would use. Bytes that are not valid text in it (not UTF-8,
// under the manifest) fail the conversion: such a path names no file, where
// the narrow functions would open the one named with U+FFFD in their place.
// A path past the wide functions' limit of MAX_PATH characters (a row may
// hold 899 bytes) is made absolute and given the \\?\ prefix, which lifts
// it; shorter paths keep every rule of the narrow functions. Making it
// absolute applies Windows' own device-name rule first (NUL, CON, COM1...,
// whatever the extension), giving \\.\NUL and the like; that is kept as it
// is, so a long path names the device a short one would.
bool wide_path(const char* path, std::wstring* out) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length) != length) {
    return false;
  }
  wide.resize(static_cast<std::size_t>(length) - 1);
  *out = wide;
  if (wide.size() < MAX_PATH - 12) return true;
  const DWORD room = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (room == 0) return true;
  std::wstring full(room, L'\0');
  const DWORD full_length = GetFullPathNameW(wide.c_str(), room, &full[0], nullptr);
  if (full_length == 0 || full_length >= room) return true;
  full.resize(full_length);
  if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
    *out = full;
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    *out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    *out = L"\\\\?\\" + full;
  }
  return true;
}

HANDLE handle_of(const InputFile& file) { return reinterpret_cast<HANDLE>(file.handle()); }

HANDLE handle_of(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool volume_of_handle(HANDLE handle, std::uint64_t* volume) {
  DWORD serial = 0;
  if (!GetVolumeInformationByHandleW(handle, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    return false;
  }
  *volume = serial;
  return true;
}

// Only a file on a disk is regular: pipes, character devices (CON, NUL, the
// serial ports) and directories are not. Its identity is the volume's serial
// number and the file's index on that volume, which hard links share. The
// serial number costs a hundred times the rest (half a millisecond under
// Wine), so it is left out where asked and looked up only when the index
// matches. Pipes and devices have no index: their identity is unknown, and
// none is ever the same as another. (Opening one by name never gives the
// end the run writes to: a named pipe gives a new instance, CON the
// keyboard.)
bool identity_of_handle(HANDLE handle, bool with_volume, FileIdentity* identity) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  FileIdentity result;
  FILE_STANDARD_INFO standard;
  // The index, as FileInternalInformation (6) gives it.
  struct {
    LARGE_INTEGER index;
  } internal;
  IO_STATUS_BLOCK status;
  // A whole volume or disk opened as a file gives no information: not regular.
  if (GetFileType(handle) == FILE_TYPE_DISK &&
      GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
      !standard.Directory &&
      NT_SUCCESS(NtQueryInformationFile(handle, &status, &internal, sizeof internal,
                                        static_cast<FILE_INFORMATION_CLASS>(6))) &&
      (!with_volume || volume_of_handle(handle, &result.volume))) {
    result.known = true;
    result.regular = true;
    result.index = static_cast<std::uint64_t>(internal.index.QuadPart);
  }
  *identity = result;
  return true;
}

bool write_all(HANDLE out, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    DWORD written = 0;
    if (!WriteFile(out, data, want, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

bool identity_of_path(const char* path, FileIdentity* identity) {
  // No access asked for, only a look: works on directories too
  // (FILE_FLAG_BACKUP_SEMANTICS) and follows symbolic links.
  std::wstring wide;
  if (!wide_path(path, &wide)) return false;
  const HANDLE handle =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = identity_of_handle(handle, true, identity);
  CloseHandle(handle);
  return known;
}

bool InputFile::open(const char* path, Kind kind) {
  close();
  // Others may go on reading, writing, renaming or deleting the file, as on
  // Linux. Opening a directory fails: it is no file to read. Opening a pipe
  // or a device never waits; only a regular file is then read where that
  // is asked for.
  std::wstring wide;
  if (!wide_path(path, &wide)) return false;
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  FileIdentity identity;
  if (!identity_of_handle(handle, false, &identity) ||
      (kind == Kind::RegularOnly && !identity.regular)) {
    close();
    return false;
  }
  identity_ = identity;
  LARGE_INTEGER size;
  size_ = identity.regular && GetFileSizeEx(handle, &size)
              ? static_cast<std::uint64_t>(size.QuadPart)
              : 0;
  return true;
}

InputFile::Opened InputFile::open_unless_output(const char* path, const FileIdentity& output) {
  // Opening never waits here, and only a file on a disk has an identity.
  if (!open(path, Kind::Any)) return Opened::No;
  if (!same_regular_file_as(output)) return Opened::Yes;
  close();
  return Opened::IsOutput;
}

bool InputFile::same_regular_file_as(const FileIdentity& other) const {
  // The volume, left out when opened, is looked up only for a matching index.
  std::uint64_t volume;
  return identity_.regular && other.regular && identity_.index == other.index &&
         volume_of_handle(handle_of(*this), &volume) && volume == other.volume;
}

void InputFile::close() {
  if (handle_ != kClosed) CloseHandle(handle_of(*this));
  handle_ = kClosed;
  identity_ = FileIdentity();
  size_ = 0;
}

long InputFile::read(void* out, std::size_t size) {
  const DWORD want = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
  DWORD got = 0;
  if (ReadFile(handle_of(*this), out, want, &got, nullptr)) return static_cast<long>(got);
  // A pipe whose writer has gone has simply ended.
  const DWORD error = GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
}

long InputFile::read_at(void* out, std::size_t size, std::uint64_t offset) {
  const DWORD want = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (ReadFile(handle_of(*this), out, want, &got, &at)) return static_cast<long>(got);
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

// Every byte is read: holes are rare on Windows volumes, and reading them
// costs what reading zeros costs.
std::uint64_t InputFile::data_from(std::uint64_t offset) { return offset; }

std::FILE* create_output(const char* path) {
  std::wstring wide;
  return wide_path(path, &wide) ? _wfopen(wide.c_str(), L"wb") : nullptr;
}

std::FILE* create_new_file(const char* path, bool* existed) {
  *existed = false;
  std::wstring wide;
  if (!wide_path(path, &wide)) return nullptr;
  // CREATE_NEW fails on anything already there, links included.
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *existed = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return nullptr;
  }
  *existed = false;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

// A rename replaces the directory entry `to` itself: a symbolic link there
// is replaced, not followed (as under Wine, which renames over the Unix
// link). It cannot replace a folder, nor a link to one.
bool replace_file(const char* from, const char* to) {
  std::wstring wide_from, wide_to;
  return wide_path(from, &wide_from) && wide_path(to, &wide_to) &&
         MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const char* path) {
  std::wstring wide;
  return wide_path(path, &wide) && DeleteFileW(wide.c_str()) != 0;
}

Entry entry_at(const char* path) {
  // The attributes of a link itself, whether or not it leads anywhere; Wine
  // gives those of what a link to a file leads to.
  std::wstring wide;
  if (!wide_path(path, &wide)) return Entry::None;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Entry::None;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? Entry::Folder : Entry::Other;
}

unsigned long process_id() { return GetCurrentProcessId(); }

FolderResult make_folder(const char* path) {
  std::wstring wide;
  if (!wide_path(path, &wide)) return FolderResult::Failed;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return FolderResult::Created;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return FolderResult::Failed;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderResult::Failed;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderResult::Existed : FolderResult::NotAFolder;
}

bool remove_empty_folder(const char* path) {
  std::wstring wide;
  return wide_path(path, &wide) && RemoveDirectoryW(wide.c_str()) != 0;
}

std::string path_in_folder(const std::string& folder, const std::string& name) {
  // Either slash ends a folder, and so does a drive's colon ("D:" is the
  // drive's working folder, "D:/" its root).
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\' || folder.back() == ':') {
    return folder + name;
  }
  return folder + '/' + name;
}

bool identity_of_stream(std::FILE* stream, FileIdentity* identity) {
  return identity_of_handle(handle_of(stream), true, identity);
}

CopyResult copy_to_output(InputFile& in, std::FILE* out) {
  const HANDLE out_handle = handle_of(out);
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  std::uint64_t copied = 0;
  for (;;) {
    const long got = in.read(block.get(), kCopyBlock);
    if (got == 0) return CopyResult::Done;
    if (got < 0) return copied == 0 ? CopyResult::UnreadableFile : CopyResult::ReadFailed;
    if (!write_all(out_handle, block.get(), static_cast<std::size_t>(got))) {
      return CopyResult::WriteFailed;
    }
    copied += static_cast<std::uint64_t>(got);
  }
}

void prepare_process() {
  // No dialog box, for a drive with no disk in it or anything else: the
  // tool runs unattended, and a failure is a message and a status.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // A standard stream the parent left without a handle is given NUL, opened
  // read-only, so that a message written to it still fails.
  for (int fd = 0; fd <= 2; ++fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) {
      const int opened = _open("NUL", _O_RDONLY | _O_BINARY);
      if (opened >= 0 && opened != fd) {
        _dup2(opened, fd);
        _close(opened);
      }
    }
  }
}

void move_messages_past_output(const FileIdentity& output) {
  FileIdentity standard_output;
  if (identity_of_stream(stdout, &standard_output) && same_regular_file(standard_output, output)) {
    std::fflush(stdout);
    _lseeki64(_fileno(stdout), 0, SEEK_END);
  }
}

}  // namespace platform
