#pragma once

#include <string>

#include <nlohmann/json.hpp>
#include "util/log_sink.hpp"

namespace TQZ {

// Writes the one-line diagnostic for a JSON library error on stderr, chosen by
// the error's class.
inline void report_json_error(const nlohmann::json::exception& error)
{
    using json = nlohmann::json;
    const char* text = "json other error";
    if (dynamic_cast<const json::parse_error*>(&error) != nullptr) {
        text = "json parse error";
    } else if (dynamic_cast<const json::invalid_iterator*>(&error) != nullptr) {
        text = "json invalid_iterator error";
    } else if (dynamic_cast<const json::type_error*>(&error) != nullptr) {
        text = "json type error";
    } else if (dynamic_cast<const json::out_of_range*>(&error) != nullptr) {
        text = "json out_of_range error";
    }
    VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << text;
}

// The compact text of `value` into `out`; false, with the error's line, when
// the value cannot be written as JSON (invalid UTF-8 in a string).
inline bool dump_compact(const nlohmann::json& value, std::string& out)
{
    try {
        out = value.dump();
        return true;
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
        return false;
    }
}

}  // namespace TQZ
