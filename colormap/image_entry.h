// Turns one image row into its 256-byte entry: the palette index of every
// pixel, line by line from the top-left corner.
#pragma once

#include <array>
#include <vector>

#include "colormap/formats/image_format.h"
#include "colormap/image_header.h"
#include "colormap/image_intake.h"
#include "colormap/image_palette.h"
#include "colormap/library_io.h"
#include "colormap/platform.h"
#include "colormap/run.h"

// What the image rows of one run share.
struct ImageRun {
  IntakeLimits limits;
  // Buffers reused from image to image, each allocated once; see ImageBytes.
  ImageBytes bytes;
  std::vector<unsigned char> rewritten;  // never longer than the bytes read and a little more
};

// What one image row gives: its entry, or why there is none.
struct ImageOutcome {
  enum class Kind { Entry, CannotOpen, IsOutput, WrongSize, WrongDepth };
  Kind kind = Kind::CannotOpen;
  ImageSize size;  // for WrongSize
  int depth = 0;   // for WrongDepth
  // For a palette's picture: the entries its file gives colours for, 0 when
  // it holds no palette.
  std::size_t colours = 0;
  std::array<unsigned char, 256> entry = {};
};

// Opens, reads, checks and decodes the image at `path`, exactly as written,
// by the loader for `format`; writes nothing. `output` is the output file,
// which no row may read.
ImageOutcome read_image_entry(const char* path, ImageFormat format,
                              const platform::FileIdentity& output, ImageRun& run);

// Reads the palette of the picture at `path` (splitcolormap's colours) as an
// image row is read: the same bounded read, gate, rewrite and loader, but of
// any size `run.limits` takes. Gives Entry, the entry left empty, with
// `colours` the number of entries its file gives (see read_loader_palette;
// entries the file holds none for keep what they had), which `palette` then
// holds at 8 bits; CannotOpen, WrongSize or WrongDepth as for a row,
// WrongDepth also for a picture that is not paletted. `palette` is changed
// only for Entry with `colours` above 0: a paletted picture whose file holds
// no palette (no colour table, colour map or CMAP) gives Entry and 0.
ImageOutcome read_image_palette(const char* path, ImageFormat format, ImageRun& run,
                                PaletteBytes* palette);

// Appends exactly 256 bytes to the output, or fails the run and returns false.
bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams,
                       ImageRun& run);
