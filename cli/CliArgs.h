// What both of tarvo-cli's option parsers need: an option's value and a
// number typed as a value.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarvo {

// The value that follows the option at args[i], advancing i over it; false
// when the option is the last argument.
inline bool TakeOptionValue(const std::vector<std::string>& args, size_t& i, std::string& v)
{
    if (i + 1 >= args.size())
        return false;
    v = args[++i];
    return true;
}

// A number the way a person types it; nothing may follow it.
inline bool ParseNumber(const std::string& s, double& v)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

}  // namespace tarvo
