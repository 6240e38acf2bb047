// What a row of the INI file is, how rows are read, and which entry a row
// asks for.
#pragma once

#include <cstddef>
#include <memory>

#include "colormap/formats/image_format.h"
#include "colormap/platform.h"
#include "colormap/wide_text.h"

// One read yields at most kRowBufferSize - 1 characters, line feed included;
// a longer line comes in pieces, each a row of its own.
constexpr std::size_t kRowBufferSize = 900;

// InvalidText: the next row of a UTF-16 or UTF-32 file holds a unit that is
// no character, or the file ends in part of a unit; nothing past it is read.
enum class ReadResult { Row, End, Error, InvalidText };

// One read of the INI file, line feed included; valid until the next read.
struct RowPiece {
  const char* text = nullptr;
  std::size_t size = 0;
};

// Reads the INI file in large blocks and hands out rows without copying
// them: a list of a million comment rows costs little more than counting its
// lines. Reads from a pipe as soon as data arrives. A file that starts with a
// UTF-16 or UTF-32 byte-order mark is converted to UTF-8 as it is read, and its rows
// are those of the converted text.
class IniStream {
 public:
  IniStream() = default;
  IniStream(const IniStream&) = delete;
  IniStream& operator=(const IniStream&) = delete;
  ~IniStream() { close(); }

  // Opens the file and reads its first block, so that a file that opens but
  // cannot be read (a directory) is found at once. A byte-order mark at the
  // very start (UTF-8, or UTF-16 or UTF-32 in either order) is passed over.
  bool open(const char* path);
  bool is_open() const { return file_.is_open(); }
  // Whether the INI file is the regular file `other` identifies.
  bool same_regular_file_as(const platform::FileIdentity& other) const {
    return file_.same_regular_file_as(other);
  }
  const platform::FileIdentity& identity() const { return file_.identity(); }
  // "UTF-16" or "UTF-32" for a file read as such; for InvalidText's message.
  const char* wide_text() const { return wide_ ? wide_text_name(encoding_) : "UTF-8"; }
  void close();

  ReadResult read_row(RowPiece* row);

  // Passes over the blank and comment rows that follow in the buffer, as
  // read_row would return them, and returns how many it passed. Never reads
  // the file, so it cannot block or fail; read_row carries on from there.
  std::size_t skip_blank_and_comment_rows();

 private:
  bool fill();
  bool fill_from_wide_text();
  bool skip_byte_order_mark();
  void start_wide_text(WideText encoding);

  platform::InputFile file_;
  std::unique_ptr<char[]> buffer_;  // the text, UTF-8 once converted
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;  // no more text will come
  // A UTF-16 or UTF-32 file's bytes as read, not converted yet.
  bool wide_ = false;
  WideText encoding_ = WideText::Utf16LittleEndian;
  std::unique_ptr<unsigned char[]> raw_;
  std::size_t raw_begin_ = 0;
  std::size_t raw_end_ = 0;
  bool raw_ended_ = false;
  bool invalid_ = false;  // the text stops at a unit that is no character
};

enum class RowKind { Image, Binary };

// The image format named by the path's extension (from its last '.',
// ignoring case). Returns false when the extension names no image format.
bool image_format_of(const char* path, ImageFormat* format);

enum class RowError { None, TooShort, NoExtension, UnknownExtension };

struct RowClass {
  RowError error = RowError::None;
  RowKind kind = RowKind::Image;
  const char* extension = nullptr;  // points into the row: from its last '.'
};

// The length of the row once it is cut at its first carriage return, line
// feed or NUL.
std::size_t cut_length(const RowPiece& row);

// Blank rows (empty once cut) and rows starting with '#' contribute nothing.
bool is_skipped_row(const RowPiece& row);

// Classifies a cut row that is neither blank nor a comment.
RowClass classify_row(const char* row);

// ASCII-only, so the result never depends on the locale.
bool equals_ignoring_case(const char* a, const char* b);
