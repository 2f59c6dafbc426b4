#include "util/str_op.hpp"

#include <cctype>
#include <iostream>
#include <sstream>
#include "util/log_sink.hpp"

namespace VELKOR {
namespace STR_OP {

std::vector<std::string> str_split(const std::string& s, char delimiter)
{
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    while (begin <= s.size()) {
        std::string::size_type end = s.find(delimiter, begin);
        if (end == std::string::npos) {
            end = s.size();
        }
        if (end > begin) {
            parts.push_back(s.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

std::string str_remove_spaces(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        // isspace is undefined for negative char values other than EOF.
        if (!std::isspace(static_cast<unsigned char>(c))) {
            out.push_back(c);
        }
    }
    return out;
}

std::string str_strip(const std::string& s, const std::string& token)
{
    const std::string::size_type pos = s.find(token);
    return pos == std::string::npos ? s : s.substr(0, pos);
}

std::string str_strip_front(const std::string& s, const std::string& token)
{
    const std::string::size_type pos = s.find(token);
    return pos == std::string::npos ? std::string() : s.substr(pos + token.size());
}

template <typename T> T str_to_num(const std::string& s)
{
    std::istringstream in(s);
    T value{};
    if (!(in >> value)) {
        VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "ERROR :: Value (" << s << ") is out of integer range.";
    }
    return value;
}

template int str_to_num<int>(const std::string& s);
template double str_to_num<double>(const std::string& s);

} // namespace STR_OP
} // namespace VELKOR
