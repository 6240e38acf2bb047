#include "colormap/rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Reads every row of `text` the way the row loop does.
std::vector<std::string> rows_of(const std::string& text) {
  FILE* ini = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), ini);
  std::rewind(ini);
  std::vector<std::string> rows;
  char row[kRowBufferSize];
  while (read_row(ini, row) == ReadResult::Row) rows.emplace_back(row);
  std::fclose(ini);
  return rows;
}

TEST(ReadRow, LineEndsAreCutAndEveryReadIsARow) {
  using Rows = std::vector<std::string>;
  EXPECT_EQ(rows_of("a.bmp\n\n# note\nb.bin"), (Rows{"a.bmp", "", "# note", "b.bin"}));
  EXPECT_EQ(rows_of("a.bmp\r\nb.bin\r\n"), (Rows{"a.bmp", "b.bin"}));
  EXPECT_EQ(rows_of("a.bmp\rjunk.bin\n"), (Rows{"a.bmp"}));
  EXPECT_EQ(rows_of("\r\n\n"), (Rows{"", ""}));
}

TEST(ReadRow, LongLinesComeInPiecesOf899) {
  const std::string exact(899, 'x');
  // 899 characters fill the buffer; the line feed is then a blank row.
  EXPECT_EQ(rows_of(exact + "\nnext.bin\n"), (std::vector<std::string>{exact, "", "next.bin"}));
  const std::string longer(899 + 899 + 5, 'y');
  EXPECT_EQ(rows_of(longer + "\n"),
            (std::vector<std::string>{std::string(899, 'y'), std::string(899, 'y'), "yyyyy"}));
  const std::string shorter(898, 'z');
  EXPECT_EQ(rows_of(shorter + "\nnext.bin"), (std::vector<std::string>{shorter, "next.bin"}));
}

TEST(ReadRow, DistinguishesEndFromError) {
  char row[kRowBufferSize];
  FILE* empty = std::tmpfile();
  EXPECT_EQ(read_row(empty, row), ReadResult::End);
  std::fclose(empty);
  // A directory opens for reading on Linux, but cannot be read.
  FILE* directory = std::fopen("/", "r");
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(read_row(directory, row), ReadResult::Error);
  std::fclose(directory);
}

TEST(IsSkippedRow, OnlyBlankRowsAndALeadingHash) {
  EXPECT_TRUE(is_skipped_row(""));
  EXPECT_TRUE(is_skipped_row("#"));
  EXPECT_TRUE(is_skipped_row("#x.bmp"));
  EXPECT_FALSE(is_skipped_row("  #comment"));
  EXPECT_FALSE(is_skipped_row(" "));
}

void expect_kind(const char* row, RowKind kind) {
  const RowClass result = classify_row(row);
  EXPECT_EQ(result.error, RowError::None) << row;
  EXPECT_EQ(result.kind, kind) << row;
}

void expect_error(const char* row, RowError error, const char* extension = nullptr) {
  const RowClass result = classify_row(row);
  EXPECT_EQ(result.error, error) << row;
  if (extension) {
    EXPECT_STREQ(result.extension, extension) << row;
  }
}

TEST(ClassifyRow, ExtensionsIgnoringCase) {
  expect_kind("x.bmp", RowKind::Image);
  expect_kind("tiles.Pcx", RowKind::Image);
  expect_kind("a/b.LBM", RowKind::Image);
  expect_kind("sky.tGa", RowKind::Image);
  expect_kind("data.bin", RowKind::Binary);
  expect_kind("DATA.BIN", RowKind::Binary);
  expect_kind("dir.v2/pic.bin", RowKind::Binary);
}

TEST(ClassifyRow, RowErrors) {
  expect_error("a.bn", RowError::TooShort);
  expect_error(".bin", RowError::TooShort);
  expect_error("ab", RowError::TooShort);
  expect_error("  #comment", RowError::NoExtension);
  expect_error("pic.bmp ", RowError::UnknownExtension, ".bmp ");
  expect_error("dir.v2/pic", RowError::UnknownExtension, ".v2/pic");
  expect_error("archive.bmp.bak", RowError::UnknownExtension, ".bak");
  expect_error("name.", RowError::UnknownExtension, ".");
  expect_error("image.bmpx", RowError::UnknownExtension, ".bmpx");
  expect_error("image.png", RowError::UnknownExtension, ".png");
}

}  // namespace
