#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "protocol/json_error_report.hpp"
#include "session/device_session.hpp"
#include "transport/ext_interface_tcp_client.hpp"

namespace TQZ {

namespace {

constexpr uint8_t kRouteGeneral = 0;
constexpr uint8_t kRouteSettings = 1;

// Sets the reply route, then writes `bytes` in one transport write and pauses
// after a successful one. Nothing is written while the link is down.
bool send_command(DeviceSession& session, std::string bytes, uint8_t route,
                  std::chrono::milliseconds pause)
{
    session.reply_route = route;
    if (!session.tcp->is_connected()) {
        session.set_error("not connected");
        return false;
    }
    const bool ok = session.tcp->write(bytes.data(), static_cast<unsigned int>(bytes.size()));
    if (!ok) {
        session.set_error("write failed: the link to the sensor is gone");
    }
    if (ok) {
        std::this_thread::sleep_for(pause);
    }
    return ok;
}

// Lays out compact JSON text one member per line: a line break and three
// spaces after '{' and ',' and a line break before '}', except inside arrays,
// which stay on one line. Text inside string values is copied untouched.
std::string format_settings_text(const std::string& compact)
{
    std::string out;
    out.reserve(compact.size() + compact.size() / 4);
    bool in_array = false;
    bool in_string = false;
    bool escaped = false;
    for (const char c : compact) {
        if (in_string) {
            out += c;
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            in_string = true;
            out += c;
            break;
        case '[':
            in_array = true;
            out += c;
            break;
        case ']':
            in_array = false;
            out += c;
            break;
        case '{':
        case ',':
            out += c;
            if (!in_array) {
                out += "\n   ";
            }
            break;
        case '}':
            if (!in_array) {
                out += '\n';
            }
            out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

}  // namespace

bool DeviceSession::get_setting(nlohmann::json& out)
{
    out = nullptr;
    return setting_replies.pop(out);
}

bool DeviceSession::send_json(nlohmann::json& message)
{
    std::string text;
    try {
        text = message.dump();
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
        return false;
    }
    return send_command(*this, std::move(text), kRouteGeneral, std::chrono::milliseconds(100));
}

bool DeviceSession::json_read_from_memory()
{
    return send_command(*this, "{\"command\":\"json_read\"}", kRouteSettings, std::chrono::milliseconds(1));
}

bool DeviceSession::json_write_to_memory()
{
    return send_command(*this, "{\"command\":\"json_save\"}", kRouteGeneral, std::chrono::milliseconds(100));
}

bool DeviceSession::json_read_from_file(const char* path, nlohmann::json& out)
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

bool DeviceSession::json_write_to_file(const char* path, nlohmann::json& value)
{
    // Dump before opening, so a value that cannot be written (invalid UTF-8)
    // does not truncate an existing file.
    std::string compact;
    try {
        compact = value.dump();
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
        return false;
    }
    if (path == nullptr) {
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
