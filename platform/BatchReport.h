// The batch's own report as PDF: the settings and limits, the counts, the
// distribution of the weighted figure with its limit, the ten worst files
// and a table of every file, on as many numbered pages as it needs.
#pragma once

#include "platform/QtModule.h"

#include <string>

namespace tarvo {

// Writes the report through the one safe writer (never over an input);
// false with the reason when it cannot.
bool WriteBatchReport(const BatchReportInfo& info, const std::string& path, std::string& error);

}  // namespace tarvo
