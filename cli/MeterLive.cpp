#include "cli/MeterLive.h"

#include "cli/CliArgs.h"
#include "platform/SoundPlatform.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>

namespace tarvo {

namespace {

constexpr double kLongestRun = 24 * 3600;
constexpr double kLateSeconds = 5;  // how long the input may give nothing before the run gives up waiting

nlohmann::ordered_json Figure(const std::optional<double>& v, int decimals)
{
    if (!v)
        return nullptr;
    const double k = std::pow(10.0, decimals);
    return std::round(*v * k) / k;
}

const char* StateName(meter::LiveState s)
{
    switch (s) {
    case meter::LiveState::Searching: return "searching";
    case meter::LiveState::NoTone: return "no tone";
    case meter::LiveState::Locked: return "locked";
    }
    return "";
}

}  // namespace

int ParseLiveOption(const std::vector<std::string>& args, size_t& i, LiveRequest& req, std::string& why)
{
    if (args[i] == "--list-inputs") {
        req.listInputs = true;
        return 1;
    }
    if (args[i] == "--input") {
        if (!TakeOptionValue(args, i, req.input) || req.input.empty()) {
            why = "--input needs the name of a sound input (--list-inputs lists them)";
            return -1;
        }
        return 1;
    }
    if (args[i] != "--meter-live")
        return 0;
    std::string v;
    double seconds = 0;
    if (!TakeOptionValue(args, i, v) || !ParseNumber(v, seconds) || !(seconds > 0 && seconds <= kLongestRun)) {
        why = "--meter-live takes a number of seconds from 0 to 86400" + (v.empty() ? std::string() : ", not \"" + v + "\"");
        return -1;
    }
    req.on = true;
    req.seconds = seconds;
    return 1;
}

std::string InputListText(const std::vector<SoundInput>& inputs, bool json)
{
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const SoundInput& in : inputs)
            list.push_back({{"name", in.name}, {"description", in.description}, {"default", in.isDefault}});
        return nlohmann::ordered_json{{"inputs", std::move(list)}}.dump(-1, ' ', false,
                                                                        nlohmann::ordered_json::error_handler_t::replace) +
               "\n";
    }
    std::string text;
    for (const SoundInput& in : inputs)
        text += InputLine(in) + "\n";
    return text;
}

std::string UnknownInputText(const std::string& name)
{
    return "there is no sound input named \"" + name + "\" (tarvo-cli --list-inputs lists them)";
}

nlohmann::ordered_json LiveJson(const meter::LiveUpdate& u)
{
    nlohmann::ordered_json live;
    live["seconds"] = std::round(u.seconds * 1000) / 1000;
    live["channels"] = nlohmann::ordered_json::array();
    for (const meter::LiveChannel& c : u.channels) {
        const meter::ChannelFigures* w = c.window ? &*c.window : nullptr;
        const meter::ChannelFigures* r = c.run ? &*c.run : nullptr;
        auto of = [](const meter::ChannelFigures* f, double meter::ChannelFigures::*field) {
            return f ? std::optional<double>(f->*field) : std::nullopt;
        };
        nlohmann::ordered_json ch;
        ch["channel"] = c.channel;
        ch["carrier_hz"] = Figure(c.carrierHz, 4);
        ch["speed_error_percent"] = Figure(c.speedErrorPercent, 6);
        ch["weighted"] = {{"two_sigma_percent", Figure(w ? std::optional<double>(w->weighted.twoSigmaPercent) : std::nullopt, 6)}};
        ch["wow_rms_percent"] = Figure(of(w, &meter::ChannelFigures::wowRmsPercent), 6);
        ch["flutter_rms_percent"] = Figure(of(w, &meter::ChannelFigures::flutterRmsPercent), 6);
        ch["state"] = StateName(c.state);
        ch["relocked"] = c.relocked;
        ch["speed_error_hz"] = Figure(c.speedErrorHz, 4);
        ch["window_seconds"] = w ? nlohmann::ordered_json(std::round(c.windowSpan * 1000) / 1000) : nullptr;
        ch["run"] = {{"seconds", Figure(of(r, &meter::ChannelFigures::seconds), 3)},
                     {"weighted", {{"two_sigma_percent",
                                    Figure(r ? std::optional<double>(r->weighted.twoSigmaPercent) : std::nullopt, 6)}}},
                     {"wow_rms_percent", Figure(of(r, &meter::ChannelFigures::wowRmsPercent), 6)},
                     {"flutter_rms_percent", Figure(of(r, &meter::ChannelFigures::flutterRmsPercent), 6)}};
        live["channels"].push_back(std::move(ch));
    }
    return {{"live", std::move(live)}};
}

std::string LiveText(const meter::LiveUpdate& u)
{
    std::string line = "Live " + meter::FixedText(u.seconds, 1) + " s:";
    for (const meter::LiveChannel& c : u.channels) {
        line += " channel " + std::to_string(c.channel);
        if (c.relocked)
            line += " re-locked at " + meter::FixedText(c.referenceHz, 1) + " Hz,";
        if (c.state != meter::LiveState::Locked) {
            line += c.state == meter::LiveState::NoTone ? " no tone;" : " looking for the tone;";
            continue;
        }
        line += " carrier " + (c.carrierHz ? meter::FixedText(*c.carrierHz, 2) + " Hz" : std::string("settling"));
        if (c.speedErrorPercent)
            line += ", speed error " + meter::FixedText(*c.speedErrorPercent, 3, true) + " % (" + meter::FixedText(*c.speedErrorHz, 2, true) + " Hz)";
        if (c.window)
            line += ", weighted 2-sigma " + meter::FixedText(c.window->weighted.twoSigmaPercent, 4) + " %, wow " +
                    meter::FixedText(c.window->wowRmsPercent, 4) + " %, flutter " + meter::FixedText(c.window->flutterRmsPercent, 4) + " %";
        else
            line += ", window filling";
        line += ";";
    }
    line.pop_back();
    return line;
}

MeterOutcome RunMeterLive(SoundPlatform& sound, const LiveRequest& req, const meter::MeterSettings& settings, bool json,
                          std::ostream& out)
{
    MeterOutcome o;
    std::unique_ptr<BlockCapture> input = sound.OpenInputStream();
    std::unique_ptr<meter::LiveMeter> live;
    int64_t wanted = 0, taken = 0;
    bool lost = false;
    std::string why, lostWhy;
    auto sink = [&](const float* frames, size_t count) {
        if (!live || taken >= wanted)
            return;
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), wanted - taken));
        live->Push(frames, n);
        taken += static_cast<int64_t>(n);
    };
    if (input)
        input->SetLossSink([&](const std::string& reason) {
            lost = true;
            lostWhy = reason;
        });
    if (!input || !input->Start(sink, why)) {
        o.messages.emplace_back(kMeterCaption, "The live meter has no sound input" + (why.empty() ? std::string() : ": " + why) + ".");
        return o;
    }
    const CaptureFormat format = input->Format();
    meter::LiveSettings ls;
    ls.carrierHz = settings.carrierHz;
    ls.channels = settings.channels;
    ls.nominalHz = settings.nominalHz;
    ls.runSeconds = req.seconds;
    live = std::make_unique<meter::LiveMeter>(format.rate, format.channels, ls);
    if (!live->Ok()) {
        input->Stop();
        o.messages.emplace_back(kMeterCaption, live->Error());
        return o;
    }
    live->SetUpdateSink([&](const meter::LiveUpdate& u) {
        if (json)
            out << LiveJson(u).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        else
            out << LiveText(u) << "\n";
        out.flush();
    });
    wanted = std::llround(req.seconds * format.rate);
    // Until the input has given the seconds asked for, has gone away or has
    // stalled: given nothing for a while (it may start late, as a sound
    // server's idle sink does, and still go on).
    auto progress = std::chrono::steady_clock::now();
    for (int64_t before = taken; taken < wanted && !lost; before = taken) {
        sound.RunFor(0.05);
        const auto now = std::chrono::steady_clock::now();
        if (taken != before)
            progress = now;
        else if (std::chrono::duration<double>(now - progress).count() > kLateSeconds)
            break;
    }
    input->Stop();
    if (taken >= wanted)
        return DescribeMeterResult(live->WholeRun());
    // Cut short: the figures of what was measured, and one message that says
    // why there is no more (and why there are no figures, when there are none).
    const std::string measured = meter::FixedText(static_cast<double>(taken) / format.rate, 1);
    std::string text = lost ? "The sound input went away after " + measured + " s: " + lostWhy + "."
                            : "The sound input stopped after " + measured + " s of the " + meter::FixedText(req.seconds, 1) +
                                  " s asked for.";
    o = DescribeMeterResult(live->WholeRun());
    if (!o.ok && !o.messages.empty()) {
        text += " " + o.messages.front().second;
        o.messages.erase(o.messages.begin());
    }
    o.messages.insert(o.messages.begin(), {kMeterCaption, text});
    return o;
}

}  // namespace tarvo
