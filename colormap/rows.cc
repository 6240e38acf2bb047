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
  wide_ = false;
  invalid_ = false;
  if (!fill()) {
    close();
    return false;
  }
  return skip_byte_order_mark();
}

// Windows editors start UTF-8 text with a byte-order mark; it is no part of
// the first row. PowerShell's `>` and Notepad's "Unicode" write UTF-16 with
// one, which tells its byte order, and so does UTF-32. Only at the very
// start of the file, and no row is counted. The UTF-32 marks come first: a
// UTF-16 one is the start of the little-endian UTF-32 one.
bool IniStream::skip_byte_order_mark() {
  static const struct {
    const char* bytes;
    std::size_t size;
    bool wide;
    WideText encoding;
  } kMarks[] = {{"\xEF\xBB\xBF", 3, false, WideText::Utf16LittleEndian},
                {"\xFF\xFE\x00\x00", 4, true, WideText::Utf32LittleEndian},
                {"\x00\x00\xFE\xFF", 4, true, WideText::Utf32BigEndian},
                {"\xFF\xFE", 2, true, WideText::Utf16LittleEndian},
                {"\xFE\xFF", 2, true, WideText::Utf16BigEndian}};
  // A pipe may hand over fewer bytes than a mark at first.
  for (;;) {
    bool may_grow = false;
    for (const auto& mark : kMarks) {
      may_grow =
          may_grow || (end_ < mark.size && std::memcmp(buffer_.get(), mark.bytes, end_) == 0);
    }
    if (!may_grow || at_end_) break;
    if (!fill()) {
      close();
      return false;
    }
  }
  for (const auto& mark : kMarks) {
    if (end_ >= mark.size && std::memcmp(buffer_.get(), mark.bytes, mark.size) == 0) {
      begin_ = mark.size;
      if (mark.wide) start_wide_text(mark.encoding);
      break;
    }
  }
  return true;
}

// What is read after the mark is UTF-16 or UTF-32: it moves to a buffer of
// its own and is converted from there. Only such files pay for the second
// buffer.
void IniStream::start_wide_text(WideText encoding) {
  wide_ = true;
  encoding_ = encoding;
  raw_.reset(new unsigned char[kBlockSize]);
  raw_begin_ = 0;
  raw_end_ = end_ - begin_;
  std::memcpy(raw_.get(), buffer_.get() + begin_, raw_end_);
  raw_ended_ = at_end_;
  at_end_ = false;
  begin_ = end_ = 0;
}

void IniStream::close() {
  file_.close();
  buffer_.reset();
  raw_.reset();
}

// Keeps the unread bytes (less than one row) and reads more after them.
bool IniStream::fill() {
  const std::size_t kept = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  if (wide_) return fill_from_wide_text();
  const long got = file_.read(buffer_.get() + end_, kBlockSize - end_);
  if (got < 0) return false;
  if (got == 0) at_end_ = true;
  end_ += static_cast<std::size_t>(got);
  return true;
}

// Converts what was read and reads on until some text comes of it: a pipe
// may hand over half a character. The text stops for good at a unit that is
// no character, and at part of a unit or a lone high surrogate at the end of
// the file.
bool IniStream::fill_from_wide_text() {
  for (;;) {
    // The buffer keeps less than one row, so a character always fits.
    const WideConversion converted =
        wide_to_utf8(raw_.get() + raw_begin_, raw_end_ - raw_begin_, encoding_,
                     buffer_.get() + end_, kBlockSize - end_);
    raw_begin_ += converted.read;
    end_ += converted.written;
    if (converted.invalid) invalid_ = true;
    if (converted.invalid || converted.written > 0) return true;
    if (raw_ended_) {
      if (raw_begin_ < raw_end_) {
        invalid_ = true;
      } else {
        at_end_ = true;
      }
      return true;
    }
    raw_end_ -= raw_begin_;
    std::memmove(raw_.get(), raw_.get() + raw_begin_, raw_end_);
    raw_begin_ = 0;
    const long got = file_.read(raw_.get() + raw_end_, kBlockSize - raw_end_);
    if (got < 0) return false;
    if (got == 0) raw_ended_ = true;
    raw_end_ += static_cast<std::size_t>(got);
  }
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
    } else if (available >= kMaximumPiece) {
      size = window;
    } else if (invalid_) {
      // The rest of the text and the invalid unit are one row.
      return ReadResult::InvalidText;
    } else if (at_end_ && available > 0) {
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
