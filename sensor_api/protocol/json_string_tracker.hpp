#pragma once

namespace TQZ {

// Follows JSON text character by character and tells which characters
// belong to a string literal (its quotes included), so that braces, brackets
// and commas inside string values are not taken for structure.
class JsonStringTracker {
public:
    // True when `c`, the next character of the text, lies in a string literal.
    bool in_string(char c)
    {
        if (inside_) {
            if (escaped_) {
                escaped_ = false;
            } else if (c == '\\') {
                escaped_ = true;
            } else if (c == '"') {
                inside_ = false;
            }
            return true;
        }
        inside_ = c == '"';
        return inside_;
    }

private:
    bool inside_ = false;
    bool escaped_ = false;
};

}  // namespace TQZ
