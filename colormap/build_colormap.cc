#include "colormap/build_colormap.h"

#include <cstring>

#include "colormap/binary_entry.h"
#include "colormap/image_entry.h"
#include "colormap/rows.h"

namespace {

bool fail_row(const RowClass& row_class, long row_number, const RunSettings& settings,
              RunStreams& streams) {
  const char* ini = settings.ini_path.c_str();
  switch (row_class.error) {
    case RowError::TooShort:
      return fail_run(streams, "ERROR. Row %ld in file \"%s\" is less than 5 characters.\n",
                      row_number, ini);
    case RowError::NoExtension:
      return fail_run(streams,
                      "ERROR. Row %ld in file \"%s\" has no extension (no '.' character found)\n",
                      row_number, ini);
    case RowError::UnknownExtension:
    case RowError::None:
      break;
  }
  return fail_run(streams, "ERROR. Unknown file extension \"%s\" at row %ld in file \"%s\"\n",
                  row_class.extension, row_number, ini);
}

}  // namespace

bool build_colormap(const RunSettings& settings, RunStreams& streams) {
  RowPiece piece;
  char row[kRowBufferSize];
  ImageRun image_rows;
  long row_number = 0;  // long: a huge INI file must not wrap the count
  ReadResult read;
  for (;;) {
    row_number += static_cast<long>(streams.ini.skip_blank_and_comment_rows());
    read = streams.ini.read_row(&piece);
    if (read != ReadResult::Row) break;
    ++row_number;
    if (is_skipped_row(piece)) continue;
    const std::size_t length = cut_length(piece);
    std::memcpy(row, piece.text, length);
    row[length] = '\0';
    const RowClass row_class = classify_row(row);
    if (row_class.error != RowError::None) {
      return fail_row(row_class, row_number, settings, streams);
    }
    const bool written = row_class.kind == RowKind::Image
                             ? write_image_entry(row, settings, streams, image_rows)
                             : write_binary_entry(row, settings, streams);
    if (!written) return false;
  }
  if (read == ReadResult::Error) {
    return fail_run(streams, "ERROR. Can't read file \"%s\".\n", settings.ini_path.c_str());
  }
  if (read == ReadResult::InvalidText) {
    return fail_run(streams, "ERROR. Row %ld in file \"%s\" is not valid %s text.\n",
                    row_number + 1, settings.ini_path.c_str(), streams.ini.wide_text());
  }
  return true;
}
