// The meter's one-page report as PDF (Qt's QPdfWriter): the title block,
// the figures and the lines with their parts, the transport, the five
// views, a free comment and the date, on A4 or Letter.
#pragma once

#include "meter/Meter.h"
#include "platform/QtModule.h"

#include <string>

namespace tarvo {

// Writes the report to a temporary file beside `path`, renamed into place
// when whole. Makes an offscreen QApplication for the call when the
// program has none. False with the reason when it cannot.
bool WriteMeterReport(const meter::MeterResult& r, const MeterReportInfo& info, const std::string& path,
                      std::string& error);

}  // namespace tarvo
