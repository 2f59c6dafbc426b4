#pragma once

// Value checks shared by every tqz command. A bad value is a usage error
// naming the option; none of these accepts "nan", "inf", a trailing text or a
// number so large that converting it would overflow.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "command.hpp"

namespace tqz {

// The longest time any option takes, in seconds (about 31 years): far below
// what a steady_clock deadline can hold.
constexpr double kMaxSeconds = 1e9;
constexpr long long kMaxCount = 1000000000;

// Takes the value after option args[i]; false when there is none.
inline bool option_value(const Args& args, std::size_t& i, std::string& value)
{
    if (i + 1 >= args.size()) {
        return false;
    }
    value = args[++i];
    return true;
}

// Decimal digits only, from `min` to `max`: "-1", "2.5" and "1e3" are not
// whole numbers here.
inline bool parse_whole(const std::string& text, long long min, long long max, long long& out)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

// A finite number in [min, max], or in (min, max] when `above_min`.
inline bool parse_real(const std::string& text, double min, bool above_min, double max, double& out)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value > max ||
        (above_min ? !(value > min) : !(value >= min))) {
        return false;
    }
    out = value;
    return true;
}

// "OPTION needs WHAT, not 'VALUE'": the text of every bad value.
inline std::string bad_value(const std::string& option, const std::string& what, const std::string& value)
{
    return option + " needs " + what + ", not '" + value + "'";
}

// A count of frames and the like: 1 to kMaxCount. Empty on success, else the
// usage error.
inline std::string parse_count(const std::string& option, const std::string& text, long& out)
{
    long long value = 0;
    if (!parse_whole(text, 1, kMaxCount, value)) {
        return bad_value(option, "a whole number from 1 to " + std::to_string(kMaxCount), text);
    }
    out = static_cast<long>(value);
    return "";
}

// A duration in seconds: above 0, at most kMaxSeconds.
inline std::string parse_seconds(const std::string& option, const std::string& text, double& out)
{
    if (!parse_real(text, 0.0, true, kMaxSeconds, out)) {
        return bad_value(option, "a number of seconds above 0 and at most 1e9", text);
    }
    return "";
}

// A random seed: 0 to 4294967295.
inline std::string parse_seed(const std::string& option, const std::string& text, uint32_t& out)
{
    long long value = 0;
    if (!parse_whole(text, 0, UINT32_MAX, value)) {
        return bad_value(option, "a whole number from 0 to 4294967295", text);
    }
    out = static_cast<uint32_t>(value);
    return "";
}

}  // namespace tqz
