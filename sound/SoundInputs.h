// The machine's sound inputs as the hosts offer them: a name the sound
// server knows each by, and words for people. The system's default comes
// first; a source that monitors an output (what a loopback measurement
// reads) is an input like any other.
#pragma once

#include <string>
#include <vector>

namespace tarvo {

struct SoundInput {
    std::string name;         // the sound server's name for it
    std::string description;  // for people; the name when the server gives none
    bool isDefault = false;   // the system's default input
};

// The inputs with the default (named defaultName) first, the others in the
// order given; a name given twice is kept once, an empty name left out.
std::vector<SoundInput> OrderInputs(const std::vector<SoundInput>& inputs, const std::string& defaultName);

// The input named `name`, or null.
const SoundInput* FindInput(const std::vector<SoundInput>& inputs, const std::string& name);

// The input to open when `wanted` was chosen: wanted while it is there,
// else the first (the default); empty when there is none.
std::string ChooseInput(const std::vector<SoundInput>& inputs, const std::string& wanted);

// One line of a listing: the name, a tab, the description (a control
// character in either shown as a space, so that a line stays one line).
std::string InputLine(const SoundInput& input);

}  // namespace tarvo
