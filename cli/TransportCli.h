// tarvo-cli's transport options for the meter: a turntable (--rpm,
// --motor-poles, --motor-slots, --drive-ratio) or a tape deck (--tape-speed,
// --capstan-mm, --pinch-roller-mm, --motor-ratio, --reel-mm MIN,MAX), and
// the JSON of the parts' rates.
#pragma once

#include "meter/Transport.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarvo {

// Takes the option at args[i] when it is a transport option (advancing i
// over its value): 0 when it is not, 1 when taken, -1 with the reason.
int ParseTransportOption(const std::vector<std::string>& args, size_t& i, meter::Transport& t, std::string& why);

// The options taken together: a turntable's and a tape deck's options do
// not mix, and a motor's poles and slots need its ratio. Empty when fine.
std::string CheckTransport(const meter::Transport& t);

// [{"name", "hz", "hz_high"}], hz_high above hz for a part whose rate is a range.
nlohmann::ordered_json PartsJson(const std::vector<meter::PartRate>& parts);

}  // namespace tarvo
