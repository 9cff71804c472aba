#include "sound/SoundInputs.h"

#include <algorithm>

namespace tarvo {

namespace {

std::string OneLine(std::string s)
{
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return s;
}

}  // namespace

std::vector<SoundInput> OrderInputs(const std::vector<SoundInput>& inputs, const std::string& defaultName)
{
    std::vector<SoundInput> out;
    auto add = [&out](SoundInput in, bool isDefault) {
        if (in.name.empty() || FindInput(out, in.name))
            return;
        if (in.description.empty())
            in.description = in.name;
        in.isDefault = isDefault;
        out.push_back(std::move(in));
    };
    for (const SoundInput& in : inputs)
        if (!defaultName.empty() && in.name == defaultName)
            add(in, true);
    for (const SoundInput& in : inputs)
        add(in, false);
    return out;
}

const SoundInput* FindInput(const std::vector<SoundInput>& inputs, const std::string& name)
{
    const auto at = std::find_if(inputs.begin(), inputs.end(), [&name](const SoundInput& in) { return in.name == name; });
    return at == inputs.end() ? nullptr : &*at;
}

std::string ChooseInput(const std::vector<SoundInput>& inputs, const std::string& wanted)
{
    if (!wanted.empty() && FindInput(inputs, wanted))
        return wanted;
    return inputs.empty() ? std::string() : inputs.front().name;
}

std::string InputLine(const SoundInput& input) { return OneLine(input.name) + "\t" + OneLine(input.description); }

}  // namespace tarvo
