// splitcolormap's run: each entry of a colour map as a picture, sheets of
// the whole map, and the INI file that rebuilds it.
#pragma once

#include <string>

#include "colormap/image_palette.h"
#include "split/picture_file.h"

struct SplitSettings {
  std::string map_path;
  std::string folder;
  PictureFormat format = PictureFormat::Bmp;
  int width = 16;  // the pictures' shape; width * height is 256
  int height = 16;
  bool force = false;  // replace files already in the folder
};

// Writes the pictures, the sheets and the list into the folder, which is
// made if missing, coloured with `palette`. Nothing is written when a file
// it would write is there already, unless `force`. On failure it reports
// one line and removes what it wrote, and the folder if it made it.
bool split_colormap(const SplitSettings& settings, const PaletteBytes& palette);
