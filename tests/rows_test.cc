#include "colormap/rows.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A scratch folder of the test's own, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/tmp/rows_test.XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  std::string write(const std::string& text) const {
    const std::string file = path_ + "/maps.ini";
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::string path_;
};

struct Reads {
  std::vector<std::string> pieces;  // each read, line feed included
  std::vector<std::string> rows;    // each read once cut
  std::vector<bool> skipped;
};

Reads read_all(const std::string& text) {
  ScratchFolder folder;
  IniStream ini;
  Reads reads;
  EXPECT_TRUE(ini.open(folder.write(text).c_str()));
  RowPiece piece;
  while (ini.read_row(&piece) == ReadResult::Row) {
    reads.pieces.emplace_back(piece.text, piece.size);
    reads.rows.emplace_back(piece.text, cut_length(piece));
    reads.skipped.push_back(is_skipped_row(piece));
  }
  return reads;
}

using Strings = std::vector<std::string>;

TEST(IniStream, LineEndsAreCutAndEveryReadIsARow) {
  EXPECT_EQ(read_all("a.bmp\n\n# note\nb.bin").rows, (Strings{"a.bmp", "", "# note", "b.bin"}));
  EXPECT_EQ(read_all("a.bmp\r\nb.bin\r\n").rows, (Strings{"a.bmp", "b.bin"}));
  EXPECT_EQ(read_all("a.bmp\rjunk.bin\n").rows, (Strings{"a.bmp"}));
  EXPECT_EQ(read_all(std::string("a.bmp\0x.bin\n", 12)).rows, (Strings{"a.bmp"}));
  EXPECT_EQ(read_all("\r\n\n").rows, (Strings{"", ""}));
  EXPECT_TRUE(read_all("").rows.empty());
}

TEST(IniStream, LongLinesComeInPiecesOf899) {
  const std::string exact(899, 'x');
  // 899 characters fill a read; the line feed is then a blank row.
  EXPECT_EQ(read_all(exact + "\nnext.bin\n").pieces, (Strings{exact, "\n", "next.bin\n"}));
  const std::string longer(899 + 899 + 5, 'y');
  EXPECT_EQ(read_all(longer + "\n").rows,
            (Strings{std::string(899, 'y'), std::string(899, 'y'), "yyyyy"}));
  const std::string shorter(898, 'z');
  EXPECT_EQ(read_all(shorter + "\nnext.bin").pieces, (Strings{shorter + "\n", "next.bin"}));
}

TEST(IniStream, RowsCrossingReadBlocksStayWhole) {
  // Enough rows of varied length that many straddle the reader's blocks.
  std::string text;
  Strings expected;
  for (int i = 0; i < 20000; ++i) {
    std::string row = "dir" + std::string(static_cast<std::size_t>(i % 37), 'd') + "/" +
                      std::to_string(i) + ".bin";
    text += row + (i % 3 ? "\n" : "\r\n");
    expected.push_back(row);
  }
  EXPECT_EQ(read_all(text).rows, expected);
}

// The rows that matter, with their numbers, as the row loop sees them: with
// or without passing over blank and comment rows in bulk.
std::vector<std::pair<long, std::string>> numbered_rows(const std::string& text, bool bulk) {
  ScratchFolder folder;
  IniStream ini;
  EXPECT_TRUE(ini.open(folder.write(text).c_str()));
  std::vector<std::pair<long, std::string>> rows;
  long number = 0;
  RowPiece piece;
  for (;;) {
    if (bulk) number += static_cast<long>(ini.skip_blank_and_comment_rows());
    if (ini.read_row(&piece) != ReadResult::Row) break;
    ++number;
    if (!is_skipped_row(piece))
      rows.emplace_back(number, std::string(piece.text, cut_length(piece)));
  }
  rows.emplace_back(number, "(end)");
  return rows;
}

TEST(IniStream, SkippingInBulkCountsRowsExactly) {
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    switch (i % 9) {
      case 0:
        text += "# short\n";
        break;
      case 1:
        text += "\n";
        break;
      case 2:
        text += "#" + std::string(897, 'c') + "\n";
        break;  // 899 with its line feed
      case 3:
        text += "#" + std::string(898, 'c') + "\n";
        break;  // the line feed is a row
      case 4:
        text += "#" + std::string(2000, 'c') + "x.bin\n";
        break;  // pieces that matter
      case 5:
        text += "\r\n";
        break;
      case 6:
        text += std::string("\0#x.bin\n", 8);
        break;
      case 7:
        text += "  #not.bin\n";
        break;
      default:
        text += "#" + std::to_string(i) + "\r\n";
        break;
    }
  }
  text += "# no final line end";
  EXPECT_EQ(numbered_rows(text, true), numbered_rows(text, false));
}

// UTF-16 with its byte-order mark, from text the compiler encodes, as it
// does the UTF-8 to compare with: neither comes from the code under test.
std::string utf16_file(const std::u16string& text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST(IniStream, Utf16FilesGiveTheRowsOfTheirUtf8Text) {
  // Characters of every UTF-8 length in rows that straddle the reader's
  // blocks, a NUL and a CR, a mark that is text, the first and last
  // character of each UTF-8 length, and 899-byte pieces that end inside a
  // character.
  const char16_t head16[] =
      u"\ufeffx.bin\rjunk\n\u0000#y.bin\n\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF\n";
  const char head8[] =
      u8"\ufeff\ufeffx.bin\rjunk\n\0#y.bin\n\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF\n";
  std::u16string text16(head16, std::size(head16) - 1);
  std::string text8(head8, sizeof head8 - 1);
  for (int i = 0; i < 6000; ++i) {
    text16 += i % 5 ? u"d\u00e9j\u00e0/\u20ac\U0001D11E.bin\r\n" : u"#\u20ac\n";
    text8 += i % 5 ? u8"d\u00e9j\u00e0/\u20ac\U0001D11E.bin\r\n" : u8"#\u20ac\n";
  }
  for (int i = 0; i < 700; ++i) {
    text16 += u"\u20ac";
    text8 += u8"\u20ac";
  }
  for (const bool big_endian : {false, true}) {
    EXPECT_EQ(numbered_rows(utf16_file(text16, big_endian), true), numbered_rows(text8, true));
  }
}

TEST(IniStream, ByteOrderMarksArriveInPiecesThroughAPipe) {
  // (bytes, written one at a time and the first few after a pause; rows)
  const std::vector<std::pair<std::string, Strings>> cases = {
      {utf16_file(u"\U0001D11E.bin\n#c\nb.bmp", false), {u8"\U0001D11E.bin", "b.bmp"}},
      {utf16_file(u"\u00e9.bin\n", true), {u8"\u00e9.bin"}},
      {u8"\ufeffa.bin\n", {"a.bin"}},
      {"\xFF", {"\xFF"}},  // one byte of a mark only: a row of its own
  };
  for (const auto& [bytes, expected] : cases) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&bytes, fd = ends[1]] {
      for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (at < 6) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (write(fd, &bytes[at], 1) != 1) break;
      }
      close(fd);
    });
    IniStream ini;
    EXPECT_TRUE(ini.open(("/dev/fd/" + std::to_string(ends[0])).c_str()));
    Strings rows;
    RowPiece piece;
    while (ini.read_row(&piece) == ReadResult::Row) {
      if (!is_skipped_row(piece)) rows.emplace_back(piece.text, cut_length(piece));
    }
    writer.join();
    ini.close();
    close(ends[0]);
    EXPECT_EQ(rows, expected);
  }
}

TEST(IniStream, UnreadableFilesFailToOpen) {
  IniStream ini;
  EXPECT_FALSE(ini.open("/nonexistent/maps.ini"));
  // A directory opens for reading on Linux, but cannot be read.
  EXPECT_FALSE(ini.open("/"));
  EXPECT_FALSE(ini.is_open());
}

TEST(IsSkippedRow, OnlyBlankRowsAndALeadingHash) {
  EXPECT_EQ(read_all("\n#\n#x.bmp\n  #comment\n \n\rx.bin\n").skipped,
            (std::vector<bool>{true, true, true, false, false, true}));
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
