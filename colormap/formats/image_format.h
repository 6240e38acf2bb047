// The image formats a row can name, one per extension.
#pragma once

enum class ImageFormat { Bmp, Lbm, Pcx, Tga };
