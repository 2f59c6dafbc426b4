#pragma once

#include <string>

namespace TQZ {

// Lays out compact JSON text one member per line: a line break and three
// spaces after '{' and ',' and a line break before '}', except inside arrays,
// which stay on one line. Text inside string values is copied untouched.
std::string format_settings_text(const std::string& compact);

}  // namespace TQZ
