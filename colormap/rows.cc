#include "colormap/rows.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr std::size_t kMinimumRowLength = 5;

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool equals_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (ascii_upper(*a) != ascii_upper(*b)) return false;
  }
  return *a == *b;
}

ReadResult read_row(FILE* ini, char (&row)[kRowBufferSize]) {
  if (!std::fgets(row, sizeof row, ini))
    return std::ferror(ini) ? ReadResult::Error : ReadResult::End;
  cut_row(row);
  return ReadResult::Row;
}

void cut_row(char* row) { row[std::strcspn(row, "\r\n")] = '\0'; }

bool is_skipped_row(const char* row) { return row[0] == '\0' || row[0] == '#'; }

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
  for (const char* image : {".BMP", ".LBM", ".PCX", ".TGA"}) {
    if (equals_ignoring_case(result.extension, image)) {
      result.kind = RowKind::Image;
      return result;
    }
  }
  if (equals_ignoring_case(result.extension, ".BIN")) {
    result.kind = RowKind::Binary;
    return result;
  }
  result.error = RowError::UnknownExtension;
  return result;
}
