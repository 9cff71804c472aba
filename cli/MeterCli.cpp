#include "cli/MeterCli.h"

#include "cli/CliArgs.h"
#include "cli/TransportCli.h"
#include "framework/SafeOutput.h"
#include "meter/Machines.h"
#include "platform/QtModule.h"

#include <cmath>

namespace tarvo {

namespace {

// Percent figures keep six decimals in the JSON: enough for 0.0001 % and no noise.
double Round(double v, int decimals)
{
    const double k = std::pow(10.0, decimals);
    return std::round(v * k) / k;
}

}  // namespace

int ParseMeterOption(const std::vector<std::string>& args, size_t& i, MeterRequest& req, std::string& why)
{
    const std::string& a = args[i];
    std::string v;
    if (a == "--meter") {
        req.on = true;
        return 1;
    }
    if (const int taken = ParseTransportOption(args, i, req.settings.transport, why)) {
        req.optionsSeen = true;
        return taken;
    }
    if (a != "--carrier" && a != "--channel" && a != "--meter-csv" && a != "--meter-png" && a != "--meter-report" &&
        a != "--meter-paper" && a != "--nominal" && a != "--from" && a != "--to" && a != "--operator")
        return 0;
    req.optionsSeen = true;
    if (!TakeOptionValue(args, i, v)) {
        why = a + " needs a value";
        return -1;
    }
    if (a == "--carrier") {
        double hz = 0;
        if (!ParseNumber(v, hz) || hz < meter::kLowestCarrier || hz > meter::kHighestCarrier) {
            why = "--carrier takes a frequency from 50 to 20000 Hz, not \"" + v + "\"";
            return -1;
        }
        req.settings.carrierHz = hz;
    } else if (a == "--from" || a == "--to") {
        double s = 0;
        if (!ParseNumber(v, s) || s < 0 || s > 1e9 || (a == "--to" && s == 0)) {
            why = a + " takes a time in seconds from the file's start, not \"" + v + "\"";
            return -1;
        }
        (a == "--from" ? req.settings.fromSeconds : req.settings.toSeconds) = s;
        if (req.settings.toSeconds > 0 && req.settings.toSeconds <= req.settings.fromSeconds) {
            why = "--to must come after --from";
            return -1;
        }
    } else if (a == "--nominal") {
        double hz = 0;
        if (!ParseNumber(v, hz) || !(hz > 0) || hz > 100000) {
            why = "--nominal takes the test tone's nominal frequency in Hz, not \"" + v + "\"";
            return -1;
        }
        req.settings.nominalHz = hz;
    } else if (a == "--channel") {
        if (v == "all") {
            req.settings.channels.clear();
            return 1;
        }
        double n = 0;
        if (!ParseNumber(v, n) || n < 1 || n > 1024 || n != std::floor(n)) {
            why = "--channel takes a channel number from 1 or \"all\", not \"" + v + "\"";
            return -1;
        }
        req.settings.channels = {static_cast<int>(n)};
    } else if (a == "--meter-paper") {
        if (v != "A4" && v != "a4" && v != "Letter" && v != "letter") {
            why = "--meter-paper takes A4 or Letter, not \"" + v + "\"";
            return -1;
        }
        req.paper = v == "a4" ? "A4" : v == "letter" ? "Letter" : v;
    } else if (a == "--operator") {
        // A name on one line, as a record holds it.
        if (v.empty() || v.size() > 200 || v.find_first_of("\r\n") != std::string::npos) {
            why = "--operator takes a name of up to 200 characters on one line";
            return -1;
        }
        req.operatorName = v;
    } else if (a == "--meter-report") {
        req.report = v;
    } else if (a == "--meter-csv") {
        req.csv = v;
    } else {
        req.png = v;
    }
    return 1;
}

nlohmann::ordered_json RecordJson(const meter::FileRecord& f, const meter::Provenance& p)
{
    auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s); };
    auto positive = [](int v) { return v > 0 ? nlohmann::ordered_json(v) : nlohmann::ordered_json(); };
    return {{"path", f.path},
            {"bytes", f.bytes},
            {"sha256", f.sha256},
            {"format", f.format},
            {"sample_rate", positive(f.sampleRate)},
            {"bits", positive(f.bits)},
            {"channels", positive(f.channels)},
            {"measured_at", p.measuredAt},
            {"program_version", meter::ProgramVersion()},
            {"operator", orNull(p.operatorName)},
            {"deck", orNull(p.deck)}};
}

MeterOutcome DescribeMeterResult(const meter::MeterResult& r)
{
    MeterOutcome o;
    if (!r.ok) {
        o.messages.emplace_back(kMeterCaption, r.message);
        return o;
    }
    o.ok = true;
    o.json["standard"] = r.standard;
    if (r.stretch) {
        o.json["stretch"] = {{"from", Round(r.stretch->first, 6)}, {"to", Round(r.stretch->second, 6)}};
    }
    o.json["channels"] = nlohmann::ordered_json::array();
    o.lines.push_back("Meter standard: " + r.standard);
    if (r.stretch)
        o.lines.push_back("Meter stretch (s): " + meter::FixedText(r.stretch->first, 3) + " to " +
                          meter::FixedText(r.stretch->second, 3));
    for (const meter::ChannelFigures& c : r.channels) {
        nlohmann::ordered_json ch;
        ch["channel"] = c.channel;
        ch["carrier_hz"] = c.source == "audio" ? nlohmann::ordered_json(Round(c.carrierHz, 4)) : nullptr;
        ch["speed_error_percent"] =
            c.speedErrorPercent ? nlohmann::ordered_json(Round(*c.speedErrorPercent, 6)) : nlohmann::ordered_json();
        ch["seconds"] = Round(c.seconds, 6);
        ch["weighted"] = {{"two_sigma_percent", Round(c.weighted.twoSigmaPercent, 6)},
                          {"rms_percent", Round(c.weighted.rmsPercent, 6)}};
        ch["unweighted"] = {{"two_sigma_percent", Round(c.unweighted.twoSigmaPercent, 6)},
                            {"rms_percent", Round(c.unweighted.rmsPercent, 6)}};
        ch["wow_rms_percent"] = Round(c.wowRmsPercent, 6);
        ch["flutter_rms_percent"] = Round(c.flutterRmsPercent, 6);
        ch["drift_percent"] = Round(c.driftPercent, 6);
        ch["modulation"] = nlohmann::ordered_json::array();
        for (const meter::ModulationLine& m : c.modulation)
            ch["modulation"].push_back({{"hz", Round(m.hz, 3)},
                                        {"percent", Round(m.percent, 6)},
                                        {"label", m.label ? nlohmann::ordered_json(*m.label) : nullptr},
                                        {"am_percent", Round(m.amPercent, 6)},
                                        {"am_fm_coherence", m.amFmCoherence
                                                                ? nlohmann::ordered_json(Round(*m.amFmCoherence, 3))
                                                                : nullptr},
                                        {"label_error_hz", m.labelErrorHz
                                                               ? nlohmann::ordered_json(Round(*m.labelErrorHz, 6))
                                                               : nullptr},
                                        {"suggestion",
                                         m.suggestion.empty() ? nullptr : nlohmann::ordered_json(m.suggestion)}});
        ch["band_high_hz"] = Round(c.bandHighHz, 3);
        ch["snr_db"] = c.snrDb ? nlohmann::ordered_json(Round(*c.snrDb, 2)) : nullptr;
        ch["noise_floor_percent"] = c.noiseFloorPercent ? nlohmann::ordered_json(Round(*c.noiseFloorPercent, 6)) : nullptr;
        if (c.noiseFloorPercent && c.unweightedFloorPercent && c.flutterFloorPercent)
            ch["noise_floor"] = {{"weighted_two_sigma_percent", Round(*c.noiseFloorPercent, 6)},
                                 {"unweighted_two_sigma_percent", Round(*c.unweightedFloorPercent, 6)},
                                 {"flutter_rms_percent", Round(*c.flutterFloorPercent, 6)}};
        else
            ch["noise_floor"] = nullptr;
        for (const std::string& w : c.warnings)
            o.messages.emplace_back(kMeterCaption, w);
        ch["parts"] = PartsJson(c.parts);
        ch["source"] = c.source;
        o.json["channels"].push_back(std::move(ch));
        for (const auto& [label, text] : meter::FigureLines(c))
            o.lines.push_back("Meter channel " + std::to_string(c.channel) + " " + label + ": " + text);
    }
    // The transport the lines' labels come from, as the title gives it.
    const std::string transport = r.transport.empty() ? meter::TransportLine({}) : r.transport;
    o.json["transport"] = transport;
    o.lines.push_back("Meter transport: " + transport);
    return o;
}

MeterReportInfo ReportInfoFor(const std::string& file, const MeterRequest& req, const meter::Provenance& p,
                              const meter::FileRecord* record, const std::string& unread)
{
    MeterReportInfo info;
    info.file = file;
    info.comment = req.comment;
    info.transport = meter::TransportLine(req.settings.transport);
    info.paper = req.paper;
    info.limits = req.limits;
    info.record = record ? meter::RecordLines(*record, p) : meter::UnreadRecordLines(file, unread, p);
    info.record.push_back(meter::MethodLine(req.settings.carrierHz, req.settings.nominalHz));
    info.operatorName = req.operatorName;
    return info;
}

MeterOutcome RunMeterCommand(const std::string& file, const MeterRequest& req)
{
    // An output over the file measured would destroy it: one message, no run.
    for (const std::string* output : {&req.csv, &req.png, &req.report}) {
        if (!output->empty() && IsSameFile(*output, file)) {
            MeterOutcome o;
            o.messages.emplace_back(kMeterCaption, "Cannot write the file \"" + *output + "\": it is the input file.");
            return o;
        }
    }
    const meter::Provenance provenance{meter::NowIso8601(), req.operatorName, req.deck, req.deckDescription};
    auto run = std::make_shared<meter::MeterResult>(meter::RunMeter(file, req.settings));
    const meter::MeterResult& r = *run;
    MeterOutcome o = DescribeMeterResult(r);
    meter::FileRecord record;
    std::string why;
    const bool described = meter::DescribeFile(file, record, why);
    if (described)
        o.record = RecordJson(record, provenance);
    if (req.keepForReport) {
        o.result = run;
        o.reportInfo = ReportInfoFor(file, req, provenance, described ? &record : nullptr, why);
    }
    if (!r.ok)
        return o;
    std::string error;
    if (!req.csv.empty() && !meter::WriteMeterCsv(file, req.settings, r, req.csv, error)) {
        if (error.ends_with('.'))
            error.pop_back();  // one full stop, not two
        o.messages.emplace_back(kMeterCaption, "The deviation track was not written: " + error + ".");
    }
    const QtModule* qt = req.png.empty() && req.report.empty() ? nullptr : LoadQtModule(error);
    if (!req.png.empty() && !(qt && qt->writeMeterPng(r, req.png, error)))
        o.messages.emplace_back(kMeterCaption, "The plots were not written: " + error + ".");
    if (!req.report.empty()) {
        const MeterReportInfo info = ReportInfoFor(file, req, provenance, described ? &record : nullptr, why);
        if (!(qt && qt->writeMeterReport(r, info, req.report, error)))
            o.messages.emplace_back(kMeterCaption, "The report was not written: " + error + ".");
    }
    return o;
}

}  // namespace tarvo
