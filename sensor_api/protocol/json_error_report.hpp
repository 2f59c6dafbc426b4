#pragma once

#include <iostream>

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

}  // namespace TQZ
