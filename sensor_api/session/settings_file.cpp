#include "session/settings_file.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "protocol/json_error_report.hpp"
#include "protocol/settings_text.hpp"

namespace TQZ {

bool read_settings_file(const char* path, nlohmann::json& out)
{
    // Only regular files: a directory "opens" but has no sensible size.
    std::error_code ignored;
    if (path == nullptr || !std::filesystem::is_regular_file(path, ignored)) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    try {
        out = nlohmann::json::parse(text, nullptr, true, false);
        return true;
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
        return false;
    }
}

bool write_settings_file(const char* path, const nlohmann::json& value)
{
    // Dump before opening, so a value that cannot be written (invalid UTF-8)
    // does not truncate an existing file.
    std::string compact;
    if (!dump_compact(value, compact) || path == nullptr) {
        return false;
    }
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file) {
        return false;
    }
    file << format_settings_text(compact);
    file.close();
    return !file.fail();
}

}  // namespace TQZ
