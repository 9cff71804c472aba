// The Qt side of tarvo-cli as a module loaded at run time, so that the form's
// own commands start without Qt, the sound system or the window system: only
// a sound command or a meter picture loads it. The header carries no Qt.
#pragma once

#include "meter/Limits.h"
#include "platform/SoundPlatform.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvo {

namespace meter {
struct MeterResult;
}

// What a one-page report says beside the figures.
struct MeterReportInfo {
    std::string file;       // the measured file's path
    std::string comment;    // free text; empty: none
    std::string transport;  // the transport described in words
    std::string paper;      // "A4", "Letter", or empty for the locale's
    meter::Limits limits;   // the verdict's limits; none: "no limits given"
    std::vector<std::string> record;  // what was measured, who and when, a line each
    std::string operatorName;         // the PDF's author
};

// One file of a batch as the batch's report lists it: its verdict, the
// limits it failed and the worst of its channels' figures (none where the
// meter gave none, or the file could not be measured).
struct BatchReportRow {
    std::string path;
    meter::Verdict verdict = meter::Verdict::Pass;
    std::vector<std::string> failed;  // "weighted", "unweighted", "speed"
    std::optional<double> weightedTwoSigmaPercent, unweightedTwoSigmaPercent;  // the highest channel's
    std::optional<double> speedErrorPercent;                                  // the largest in size
    std::string message;  // why it could not be measured
};

// What the batch's own report says: the settings (a line each), the limits,
// every file, how long it took.
struct BatchReportInfo {
    std::vector<std::string> settings;  // "Standard: ...", "Nominal tone: 3150 Hz", "Operator: ...", ...
    meter::Limits limits;
    std::vector<BatchReportRow> rows;  // in any order
    double seconds = 0;
    std::string paper;         // "A4", "Letter", or empty for the locale's
    std::string operatorName;  // the PDF's author
    std::vector<std::string> inputs;  // the batch's files, none of which it may be written over
};

// The module's file name, and its entry points.
inline constexpr const char* kQtModuleFile = "libtarvo-qt.so";
extern "C" {
using TarvoCreateSoundFn = SoundPlatform* (*)();
using TarvoWriteMeterPngFn = bool (*)(const meter::MeterResult& result, const std::string& path, std::string& error);
using TarvoWriteMeterReportFn = bool (*)(const meter::MeterResult& result, const MeterReportInfo& info,
                                         const std::string& path, std::string& error);
using TarvoWriteBatchReportFn = bool (*)(const BatchReportInfo& info, const std::string& path, std::string& error);
}
inline constexpr const char* kCreateSoundSymbol = "tarvo_qt_create_sound";
inline constexpr const char* kWriteMeterPngSymbol = "tarvo_qt_write_meter_png";
inline constexpr const char* kWriteMeterReportSymbol = "tarvo_qt_write_meter_report";
inline constexpr const char* kWriteBatchReportSymbol = "tarvo_qt_write_batch_report";

struct QtModule {
    TarvoCreateSoundFn createSound = nullptr;
    TarvoWriteMeterPngFn writeMeterPng = nullptr;
    TarvoWriteMeterReportFn writeMeterReport = nullptr;
    TarvoWriteBatchReportFn writeBatchReport = nullptr;
};

// Loads the module once: beside the program, else in ../lib/tarvo from the
// program's folder (where it is installed). Null, with the reason in why,
// when it cannot be loaded or lacks any entry point; otherwise every entry
// point is set. Safe from any thread: the first call loads, the others wait
// for it, and every call gives the same outcome. It stays loaded until the
// program ends.
const QtModule* LoadQtModule(std::string& why);
// Whether LoadQtModule has loaded it.
bool QtModuleLoaded();

}  // namespace tarvo
