// tarvo-cli --meter-live SECONDS: the standards meter on the sound input,
// live. One line per update (a JSON object with --json), then the meter's
// figures of the whole run as --meter gives them.
#pragma once

#include "cli/MeterCli.h"
#include "meter/LiveMeter.h"
#include "sound/SoundInputs.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvo {

class SoundPlatform;

struct LiveRequest {
    bool on = false;
    double seconds = 0;
    std::string input;        // --input NAME: the sound input read (else the default)
    bool listInputs = false;  // --list-inputs
};

// Takes --meter-live SECONDS, --input NAME or --list-inputs at args[i]
// (advancing i over its value). Answers 0 when it is another option, 1 when
// taken, -1 on a usage error with the reason in `why`.
int ParseLiveOption(const std::vector<std::string>& args, size_t& i, LiveRequest& req, std::string& why);

// --list-inputs: one line per input (name, a tab, description), the default
// first; with json one object {"inputs": [{"name", "description",
// "default"}]} on a line.
std::string InputListText(const std::vector<SoundInput>& inputs, bool json);

// Why --input NAME cannot be read: it is not among the inputs.
std::string UnknownInputText(const std::string& name);

// One update as its JSON object ({"live": {...}}) and as a line of text.
nlohmann::ordered_json LiveJson(const meter::LiveUpdate& u);
std::string LiveText(const meter::LiveUpdate& u);

// Measures the sound input for req.seconds with the meter's settings,
// writing each update to out as it comes (a JSON line or a text line); the
// outcome holds the whole run's figures, or the message why there are none.
// An input that goes away ends the run at once, one that gives nothing for
// 5 s then: one message says so, beside the figures of what was measured.
MeterOutcome RunMeterLive(SoundPlatform& sound, const LiveRequest& req, const meter::MeterSettings& settings, bool json,
                          std::ostream& out);

}  // namespace tarvo
