// The meter's plots as a PNG for tarvo-cli --meter-png, drawn by the same
// code as the window's dialog (platform/MeterViews.h).
#pragma once

#include "meter/Meter.h"

#include <string>

class QChart;

namespace tarvo {

// New charts of a run's channels (the caller owns them): the whole-file
// deviation and the spectrum of MeterViews.
QChart* NewDeviationChart(const meter::MeterResult& r);
QChart* NewSpectrumChart(const meter::MeterResult& r);

// The title block and the five views as a PNG of width x height pixels. Makes
// an offscreen QApplication for the call when the program has none.
bool WriteMeterPng(const meter::MeterResult& r, const std::string& path, std::string& error, int width = 1200,
                   int height = 1400);

}  // namespace tarvo
