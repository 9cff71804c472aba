// tarvo-cli's standards meter: --meter [--carrier HZ] [--channel N|all]
// [--meter-csv OUT.csv] [--meter-png OUT.png].
#pragma once

#include "meter/Meter.h"

#include <nlohmann/json.hpp>

#include <string>
#include "meter/Limits.h"
#include "meter/Record.h"
#include "platform/QtModule.h"

#include <memory>

#include <utility>
#include <vector>

namespace tarvo {

struct MeterRequest {
    bool on = false;
    bool optionsSeen = false;  // any of the meter's own options
    meter::MeterSettings settings;
    std::string csv, png;
    std::string report, paper, comment;  // --meter-report OUT.pdf, --meter-paper A4|Letter, the form's comment
    meter::Limits limits;                // --limit-*: the report's verdict
    std::string operatorName;            // --operator NAME
    std::string deck;                    // --deck NAME: the machine profile whose transport is measured with
    std::string deckDescription;         // that profile's description
    bool keepForReport = false;          // the outcome keeps the result and its report's text (a batch's reports)
};

// Takes the option at args[i] when it is one of the meter's (advancing i
// over its value). Answers 0 when it is not, 1 when taken, -1 on a usage
// error with the reason in `why`.
int ParseMeterOption(const std::vector<std::string>& args, size_t& i, MeterRequest& req, std::string& why);

struct MeterOutcome {
    bool ok = false;
    nlohmann::ordered_json json;                                // the "meter" object
    nlohmann::ordered_json record;                              // the "record" object, null without a file
    std::vector<std::string> lines;                             // "Label: value" lines
    std::vector<std::pair<std::string, std::string>> messages;  // caption, text
    // With keepForReport: the run, and what its report says beside the figures.
    std::shared_ptr<const meter::MeterResult> result;
    MeterReportInfo reportInfo;
};

// What a report of `file` says beside its figures: the record (or, with
// none, why the file could not be read), the limits, the transport, who.
MeterReportInfo ReportInfoFor(const std::string& file, const MeterRequest& req, const meter::Provenance& p,
                              const meter::FileRecord* record, const std::string& unread = {});

inline constexpr const char* kMeterCaption = "Standards W&F";

// The "record" object: what was measured (path, bytes, SHA-256, format,
// rate, bits, channels), when, by which program, operator and machine.
nlohmann::ordered_json RecordJson(const meter::FileRecord& f, const meter::Provenance& p);

MeterOutcome RunMeterCommand(const std::string& file, const MeterRequest& req);
// The figures of a run, keyed and worded as RunMeterCommand gives them.
MeterOutcome DescribeMeterResult(const meter::MeterResult& r);

}  // namespace tarvo
