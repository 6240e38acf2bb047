// What a row of the INI file is, and which entry it asks for.
#pragma once

#include <cstddef>
#include <cstdio>

// One read yields at most kRowBufferSize - 1 characters.
constexpr std::size_t kRowBufferSize = 900;

enum class RowKind { Image, Binary };

enum class RowError { None, TooShort, NoExtension, UnknownExtension };

struct RowClass {
  RowError error = RowError::None;
  RowKind kind = RowKind::Image;
  const char* extension = nullptr;  // points into the row: from its last '.'
};

enum class ReadResult { Row, End, Error };

// Reads the next row (at most kRowBufferSize - 1 characters, so a longer line
// comes in pieces) and ends it at its first carriage return or line feed.
ReadResult read_row(FILE* ini, char (&row)[kRowBufferSize]);

// Ends the row at its first carriage return or line feed.
void cut_row(char* row);

// Blank rows and rows starting with '#' contribute nothing.
bool is_skipped_row(const char* row);

// Classifies a row that is neither blank nor a comment.
RowClass classify_row(const char* row);

// ASCII-only, so the result never depends on the locale.
bool equals_ignoring_case(const char* a, const char* b);
