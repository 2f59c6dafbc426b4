#include "util/utility.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <dirent.h>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits.h>
#include <map>
#include <set>
#include <sstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VELKOR {
namespace UTILITY {

std::string hex_array_to_string(const void* data, unsigned int count, const std::string& title,
                                unsigned int limit)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::ostringstream out;
    if (!title.empty()) {
        out << "\n> " << title << "\n";
    }
    out << "hex : { " << std::uppercase << std::hex << std::setfill('0');
    // A wide index: dumps of more than 65535 bytes must end too.
    for (uint64_t i = 0; i < count; ++i) {
        if (i == limit && limit != count) {
            out << "\n...\n";
        }
        const bool head = i <= limit;
        const bool tail = limit <= count && i >= count - limit;
        if (head || tail) {
            out << std::setw(2) << static_cast<unsigned int>(bytes[i]) << " ";
        }
    }
    out << std::dec << "} TOTAL(" << count << ")";
    return out.str();
}

void print_hex(const void* data, unsigned int count, const std::string& title, unsigned int limit)
{
    std::cout << hex_array_to_string(data, count, title, limit) << std::dec << std::endl;
}

void calculate_checksum(uint8_t* checksum, const void* data, unsigned int count)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (unsigned int i = 0; i < count; ++i) {
        *checksum ^= bytes[i];
    }
}

std::array<uint8_t, 3> range_to_color(uint16_t v, uint16_t max, uint16_t min)
{
    const double scale = (max == min) ? 1.0 : 255.0 / (static_cast<double>(max) - static_cast<double>(min));
    const long long scaled = std::llround((static_cast<double>(v) - static_cast<double>(min)) * scale);
    const uint8_t t = static_cast<uint8_t>(scaled & 0xFF);
    const uint8_t s = static_cast<uint8_t>((2 * t) & 0xFF);
    if (v < 128) {
        return {0, s, static_cast<uint8_t>(255 - s)};
    }
    if (v == 128) {
        return {0, static_cast<uint8_t>(255 - s), 0};
    }
    return {s, static_cast<uint8_t>(255 - s), 0};
}

namespace {

std::string read_first_line(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool is_directory(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string real_path(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string parent_of(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return (slash == std::string::npos || slash == 0) ? std::string() : path.substr(0, slash);
}

// The USB product string of the nearest ancestor that has one, else the name
// of the nearest driver other than the generic serial "port" driver.
std::string device_description(const std::string& device_dir)
{
    const std::string start = real_path(device_dir);
    for (std::string dir = start; !dir.empty(); dir = parent_of(dir)) {
        const std::string product = read_first_line(dir + "/product");
        if (!product.empty()) {
            return product;
        }
    }
    for (std::string dir = start; !dir.empty(); dir = parent_of(dir)) {
        const std::string driver = real_path(dir + "/driver");
        const std::string::size_type slash = driver.rfind('/');
        if (slash != std::string::npos && driver.substr(slash + 1) != "port") {
            return driver.substr(slash + 1);
        }
    }
    return "Serial port";
}

} // namespace

std::vector<std::pair<unsigned int, std::string>> enum_serialport()
{
    return enum_serialport("/sys/class/tty");
}

std::vector<std::pair<unsigned int, std::string>> enum_serialport(const std::string& tty_class_dir)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(tty_class_dir.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());

    struct Candidate {
        std::string name;
        unsigned long long number;
    };
    std::vector<Candidate> candidates;
    for (const std::string& name : names) {
        const std::string entry = tty_class_dir + "/" + name;
        if (!is_directory(entry + "/device")) {
            continue;
        }
        if (read_first_line(entry + "/type") == "0") {
            continue; // a UART slot with no hardware behind it
        }
        std::string::size_type digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
            --digits;
        }
        const std::string number = name.substr(digits);
        if (number.empty() || number.size() > 9) {
            continue;
        }
        candidates.push_back({name, std::stoull(number)});
    }

    unsigned long long largest = 0;
    for (const Candidate& c : candidates) {
        largest = std::max(largest, c.number);
    }
    std::set<unsigned long long> taken;
    std::vector<std::pair<unsigned int, std::string>> result;
    for (const Candidate& c : candidates) {
        unsigned long long number = c.number;
        if (!taken.insert(number).second) {
            number = ++largest;
            taken.insert(number);
        }
        const std::string description =
            device_description(tty_class_dir + "/" + c.name + "/device") + " (/dev/" + c.name + ")";
        result.emplace_back(static_cast<unsigned int>(number), description);
    }
    return result;
}

} // namespace UTILITY
} // namespace VELKOR
