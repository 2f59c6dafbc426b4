#include "protocol/settings_text.hpp"

#include "protocol/json_string_tracker.hpp"

namespace TQZ {

std::string format_settings_text(const std::string& compact)
{
    std::string out;
    out.reserve(compact.size() + compact.size() / 4);
    bool in_array = false;
    JsonStringTracker strings;
    for (const char c : compact) {
        if (strings.in_string(c)) {
            out += c;
            continue;
        }
        switch (c) {
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

}  // namespace TQZ
