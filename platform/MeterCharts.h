// The meter's two plots on Qt Charts, drawn by one code for the window's
// dialog and for tarvo-cli --meter-png: the deviation against time and the
// deviation's spectrum.
#pragma once

#include "meter/Meter.h"

#include <string>

class QChart;

namespace tarvo {

// New charts of a run's channels (the caller owns them).
QChart* NewDeviationChart(const meter::MeterResult& r);
QChart* NewSpectrumChart(const meter::MeterResult& r);

// Both plots, one above the other, as a PNG of width x height pixels. Makes
// an offscreen QApplication for the call when the program has none.
bool WriteMeterPng(const meter::MeterResult& r, const std::string& path, std::string& error, int width = 1200,
                   int height = 1400);

}  // namespace tarvo
