#include "protocol/settings_text.hpp"

namespace TQZ {

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

}  // namespace TQZ
