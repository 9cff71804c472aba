// tarvo-cli's transport options for the meter: a turntable (--rpm,
// --motor-poles, --motor-slots, --drive-ratio) or a tape deck (--tape-speed,
// --capstan-mm, --pinch-roller-mm, --motor-ratio, --reel-mm MIN,MAX), and
// the JSON of the parts' rates; the machine profiles (--save-deck NAME,
// --list-decks, --deck NAME).
#pragma once

#include "meter/Transport.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace tarvo {

// Takes the option at args[i] when it is a transport option (advancing i
// over its value): 0 when it is not, 1 when taken, -1 with the reason.
int ParseTransportOption(const std::vector<std::string>& args, size_t& i, meter::Transport& t, std::string& why);

// The options taken together: a turntable's and a tape deck's options do
// not mix, and a motor's poles and slots need its ratio. Empty when fine.
std::string CheckTransport(const meter::Transport& t);

// The machine profile options: --deck NAME (the meter's transport from a
// profile), --save-deck NAME, --deck-description TEXT, --list-decks.
struct DeckRequest {
    std::string deck;                // --deck
    std::string save;                // --save-deck
    std::string description;         // --deck-description
    bool descriptionSeen = false, list = false, deckSeen = false, saveSeen = false;
};

// Takes the option at args[i] when it is one of DeckRequest's: 0 when it
// is not, 1 when taken, -1 with the reason.
int ParseDeckOption(const std::vector<std::string>& args, size_t& i, DeckRequest& req, std::string& why);

// The profile's transport with the figures given as options in place of
// its own: each figure given (not 0) wins; a reel's two diameters go together.
meter::Transport OverlayTransport(const meter::Transport& profile, const meter::Transport& given);

// The transport of the profile named, from the store at storePath, with
// the figures `transport` holds (the options given) over it. 0 when found; 2 (a usage error) for a name the store
// does not hold; 1 when the store cannot be read. why says which.
int ApplyDeck(const std::string& storePath, const std::string& name, meter::Transport& transport, std::string& why,
              std::string* description = nullptr);

// --save-deck (with the transport given) or --list-decks on the store at
// storePath; the exit status.
int RunDeckCommand(const std::string& storePath, const DeckRequest& req, const meter::Transport& given, bool json,
                   std::ostream& out, std::ostream& err);

// [{"name", "hz", "hz_high"}], hz_high above hz for a part whose rate is a range.
nlohmann::ordered_json PartsJson(const std::vector<meter::PartRate>& parts);

}  // namespace tarvo
