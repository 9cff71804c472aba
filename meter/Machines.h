// Machine profiles: named transports ("Deck B", "Bench turntable") with a
// free description, kept in one plain text file that the window and
// tarvo-cli both read: $XDG_CONFIG_HOME/tarvo/decks (~/.config/tarvo/decks
// when XDG_CONFIG_HOME is unset or not absolute). The file is read as
// untrusted input and written whole or not at all:
//
//   # Tarvo machine profiles
//   [Deck B]
//   description = Open reel, two-track
//   tape-speed = 19.05
//   capstan-mm = 12
//
// A section per profile; its keys are tarvo-cli's transport options
// without their dashes (reel-mm takes MIN,MAX). Blank lines and lines
// starting with '#' are skipped.
#pragma once

#include "meter/Transport.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarvo::meter {

struct Machine {
    std::string name;
    std::string description;
    Transport transport;
};

inline constexpr size_t kLargestMachineFile = 64 * 1024;  // bytes
inline constexpr size_t kMostMachines = 200;
inline constexpr size_t kLongestMachineName = 64;          // bytes of UTF-8
inline constexpr size_t kLongestMachineDescription = 200;  // bytes of UTF-8

// What is wrong with a profile's name, in a sentence: empty, too long, not
// UTF-8, spaces at its ends, a control character (a line break) or one of
// '[', ']', '=' and '#'. Empty when nothing is.
std::string MachineNameFault(std::string_view name);
// The same for a description: one line of UTF-8, up to 200 bytes.
std::string MachineDescriptionFault(std::string_view description);

// The store's path from the environment's XDG_CONFIG_HOME and HOME; empty
// when neither gives an absolute folder.
std::string MachinesPath();

// Parses a store's text; false with the line and what is wrong with it.
// A name given twice, a key given twice in a section, an unknown key, a
// figure out of its range or a transport that does not hold together
// (TransportFault) are refused, as are more than kMostMachines sections.
bool ParseMachines(std::string_view text, std::vector<Machine>& machines, std::string& why);

// Reads the store at path: a file that is not there is an empty store; one
// that is not a regular file, is larger than kLargestMachineFile or does
// not parse is refused (false, why naming the file).
bool ReadMachines(const std::string& path, std::vector<Machine>& machines, std::string& why);

// The store's text for machines; ParseMachines gives them back.
std::string FormatMachines(const std::vector<Machine>& machines);

// Writes the store through the safe writer, making its folder (mode 0700)
// when it is missing; false with the reason.
bool WriteMachines(const std::string& path, const std::vector<Machine>& machines, std::string& why);

// Adds m to the store at path, or replaces the profile of its name: the
// store is read first, and one that cannot be read is left as it is.
// *replaced says which it was.
bool SaveMachine(const std::string& path, const Machine& m, std::string& why, bool* replaced = nullptr);
// Removes the profile named from the store at path (none there: nothing to do).
bool DeleteMachine(const std::string& path, const std::string& name, std::string& why);

// The profile named, or null.
const Machine* FindMachine(const std::vector<Machine>& machines, std::string_view name);

// The transport for the figures' title: "Turntable 33 1/3 rpm, belt 7.5:1,
// 24-pole motor", "Tape 19.05 cm/s, capstan 12 mm", "No transport given".
std::string TransportLine(const Transport& t);

}  // namespace tarvo::meter
