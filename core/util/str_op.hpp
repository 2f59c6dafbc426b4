#pragma once

#include <string>
#include <vector>

namespace VELKOR {
namespace STR_OP {

// The pieces of s between delimiters, in order; empty pieces are dropped.
std::vector<std::string> str_split(const std::string& s, char delimiter);
// s without any character that isspace classifies as white space.
std::string str_remove_spaces(const std::string& s);
// s cut before the first occurrence of token (s unchanged without one).
std::string str_strip(const std::string& s, const std::string& token);
// What follows the first occurrence of token; empty without one.
std::string str_strip_front(const std::string& s, const std::string& token);

// s read by formatted stream extraction into T (int or double): leading blanks
// are skipped, trailing characters ignored. On failure an error line goes to
// standard error and the value the extraction left is returned (0 when no
// number could be read, the type's limit on overflow).
template <typename T> T str_to_num(const std::string& s);

extern template int str_to_num<int>(const std::string& s);
extern template double str_to_num<double>(const std::string& s);

} // namespace STR_OP
} // namespace VELKOR
