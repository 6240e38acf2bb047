#include "colormap/rows.h"

#include <cstring>

namespace {

constexpr std::size_t kMinimumRowLength = 5;
constexpr std::size_t kMaximumPiece = kRowBufferSize - 1;
constexpr std::size_t kBlockSize = 64 * 1024;

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ends_row(char c) { return c == '\r' || c == '\n' || c == '\0'; }

bool starts_skipped_row(char c) { return ends_row(c) || c == '#'; }

}  // namespace

bool IniStream::open(const char* path) {
  close();
  if (!file_.open(path, platform::InputFile::Kind::Any)) return false;
  buffer_.reset(new char[kBlockSize]);
  begin_ = end_ = 0;
  at_end_ = false;
  if (!fill()) {
    close();
    return false;
  }
  return skip_byte_order_mark();
}

// Windows editors start UTF-8 text with a byte-order mark; it is no part of
// the first row. Only at the very start of the file, and no row is counted.
bool IniStream::skip_byte_order_mark() {
  static const char kMark[] = "\xEF\xBB\xBF";
  constexpr std::size_t kMarkSize = sizeof kMark - 1;
  // A pipe may hand over fewer bytes than the mark at first.
  while (end_ < kMarkSize && !at_end_ && std::memcmp(buffer_.get(), kMark, end_) == 0) {
    if (!fill()) {
      close();
      return false;
    }
  }
  if (end_ >= kMarkSize && std::memcmp(buffer_.get(), kMark, kMarkSize) == 0) begin_ = kMarkSize;
  return true;
}

void IniStream::close() {
  file_.close();
  buffer_.reset();
}

// Keeps the unread bytes (less than one row) and reads more after them.
bool IniStream::fill() {
  const std::size_t kept = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  const long got = file_.read(buffer_.get() + end_, kBlockSize - end_);
  if (got < 0) return false;
  if (got == 0) at_end_ = true;
  end_ += static_cast<std::size_t>(got);
  return true;
}

ReadResult IniStream::read_row(RowPiece* row) {
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const std::size_t window = available < kMaximumPiece ? available : kMaximumPiece;
    const void* line_feed = std::memchr(start, '\n', window);
    std::size_t size;
    if (line_feed) {
      size = static_cast<std::size_t>(static_cast<const char*>(line_feed) - start) + 1;
    } else if (available >= kMaximumPiece || (at_end_ && available > 0)) {
      size = window;
    } else if (at_end_) {
      return ReadResult::End;
    } else {
      if (!fill()) return ReadResult::Error;
      continue;
    }
    begin_ += size;
    row->text = start;
    row->size = size;
    return ReadResult::Row;
  }
}

// One memchr a row: a realistic list (hundreds of rows, a few comments)
// spends microseconds here, whatever the method.
std::size_t IniStream::skip_blank_and_comment_rows() {
  const char* buffer = buffer_.get();
  std::size_t count = 0;
  while (begin_ < end_ && starts_skipped_row(buffer[begin_])) {
    // The row is one piece only if its line feed is among its first 899
    // bytes; otherwise, or when its end is not read yet, read_row takes it.
    const std::size_t window = end_ - begin_ < kMaximumPiece ? end_ - begin_ : kMaximumPiece;
    const void* line_feed = std::memchr(buffer + begin_, '\n', window);
    if (!line_feed) break;
    begin_ = static_cast<std::size_t>(static_cast<const char*>(line_feed) - buffer) + 1;
    ++count;
  }
  return count;
}

std::size_t cut_length(const RowPiece& row) {
  std::size_t length = 0;
  while (length < row.size && !ends_row(row.text[length])) ++length;
  return length;
}

bool is_skipped_row(const RowPiece& row) {
  return row.size == 0 || ends_row(row.text[0]) || row.text[0] == '#';
}

bool equals_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (ascii_upper(*a) != ascii_upper(*b)) return false;
  }
  return *a == *b;
}

bool image_format_of(const char* path, ImageFormat* format) {
  const char* extension = std::strrchr(path, '.');
  if (!extension) return false;
  static const struct {
    const char* extension;
    ImageFormat format;
  } kFormats[] = {{".BMP", ImageFormat::Bmp},
                  {".LBM", ImageFormat::Lbm},
                  {".PCX", ImageFormat::Pcx},
                  {".TGA", ImageFormat::Tga}};
  for (const auto& entry : kFormats) {
    if (equals_ignoring_case(extension, entry.extension)) {
      *format = entry.format;
      return true;
    }
  }
  return false;
}

RowClass classify_row(const char* row) {
  RowClass result;
  if (std::strlen(row) < kMinimumRowLength) {
    result.error = RowError::TooShort;
    return result;
  }
  result.extension = std::strrchr(row, '.');
  if (!result.extension) {
    result.error = RowError::NoExtension;
    return result;
  }
  ImageFormat format;
  if (image_format_of(row, &format)) {
    result.kind = RowKind::Image;
    return result;
  }
  if (equals_ignoring_case(result.extension, ".BIN")) {
    result.kind = RowKind::Binary;
    return result;
  }
  result.error = RowError::UnknownExtension;
  return result;
}
