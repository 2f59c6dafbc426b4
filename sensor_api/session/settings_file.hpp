#pragma once

#include <nlohmann/json.hpp>

namespace TQZ {

// Reads one JSON document from the regular file at `path`; false (out
// unchanged) when path is null, is no regular file, cannot be read or does
// not hold one JSON document (the JSON error's line is logged).
bool read_settings_file(const char* path, nlohmann::json& out);

// Writes `value` to `path` one member per line (format_settings_text); false
// when the value cannot be dumped (the file is then not touched), path is
// null or the file cannot be written.
bool write_settings_file(const char* path, const nlohmann::json& value);

}  // namespace TQZ
