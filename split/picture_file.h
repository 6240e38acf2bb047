// Pictures written by the library's own writers (save_bmp_pf, save_pcx_pf,
// save_tga_pf), into a packfile over a new file whose every write is checked.
#pragma once

#include <allegro.h>

#include "split/new_file.h"

enum class PictureFormat { Bmp, Pcx, Tga };

// ".bmp", ".pcx" or ".tga".
const char* picture_extension(PictureFormat format);

// Writes `image`, an 8-bit bitmap, with `palette` (256 colours of 6 bits a
// channel, as the library keeps them) into `file`, created and left open by
// the caller. False when the writer or any write failed.
bool write_picture(NewFile& file, PictureFormat format, BITMAP* image, const RGB* palette);
