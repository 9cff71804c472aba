// The client area as a PNG file.
#pragma once

#include "display/Surface.h"

#include <string>

namespace tarvo {

// Writes the whole raster of s (picture and drawing layer, 640 x 420) to
// path as an 8-bit RGB PNG. Returns false when the file cannot be written.
bool WritePng(const Surface& s, const std::string& path);

}  // namespace tarvo
