// The client area as a PNG file.
#pragma once

#include "display/Surface.h"

#include <string>
#include <vector>

namespace tarvo {

// Writes the whole raster of s (picture and drawing layer, 640 x 420) to
// path as an 8-bit RGB PNG. Returns false when the file cannot be written,
// with the reason in *reason when given. A path that names one of inputs is
// refused; the file is written beside path and renamed into place, so a
// failure leaves an old file whole.
bool WritePng(const Surface& s, const std::string& path, const std::vector<std::string>& inputs = {},
              std::string* reason = nullptr);

}  // namespace tarvo
