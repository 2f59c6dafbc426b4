#include "util/config_manager.hpp"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <locale>
#include <sstream>

#include "util/str_op.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

namespace {

const char* const kDefaultSection = "CONFIGURATIONS";
const char* const kSectionOpen = "#[";
const char* const kSectionClose = "]";
const char* const kAssign = "=";
const char* const kListOpen = "{";
const char* const kListClose = "}";
const char* const kTypePrefix = "type:";
const char* const kTypeInt = "int";
const char* const kTypeFloat = "float";
const char* const kTypeString = "string";
const char* const kComment = "#";
const char* const kKeyChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
const char* const kFloatChars = "0123456789.-+";
const char* const kIntChars = "0123456789-+";
const char kQuote = '"';
const char* const kEndLine = "## The end of ";

const uint32_t kMinPrecision = 1;  // zeros of the integer part must survive the strip
const uint32_t kMaxPrecision = 64; // far beyond a double's digits; bounds the text

bool only_chars(const std::string& s, const char* allowed)
{
    return s.find_first_not_of(allowed) == std::string::npos;
}

template <typename T> bool extract(const std::string& text, T& value)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    return static_cast<bool>(in >> value);
}

} // namespace

ConfigManager::SingleItem::SingleItem() : type_(typeid(int)) {}

bool ConfigManager::SingleItem::set(const std::vector<int>& values)
{
    type_ = typeid(int);
    ints_ = values;
    return !values.empty();
}

bool ConfigManager::SingleItem::set(const std::vector<double>& values)
{
    type_ = typeid(double);
    doubles_ = values;
    return !values.empty();
}

bool ConfigManager::SingleItem::set(const std::vector<std::string>& values)
{
    type_ = typeid(std::string);
    strings_ = values;
    return !values.empty();
}

bool ConfigManager::SingleItem::get(std::vector<int>& values) const
{
    values = ints_;
    return !values.empty();
}

bool ConfigManager::SingleItem::get(std::vector<double>& values) const
{
    values = doubles_;
    return !values.empty();
}

bool ConfigManager::SingleItem::get(std::vector<std::string>& values) const
{
    values = strings_;
    return !values.empty();
}

void ConfigManager::SingleItem::clear()
{
    ints_.clear();
    doubles_.clear();
    strings_.clear();
}

ConfigManager::ConfigManager(uint32_t precision) : precision_(precision) {}

template <typename T>
bool ConfigManager::set_item(const std::vector<T>& values, const char* section, const char* key)
{
    return store_[section][key].set(values);
}

template <typename T>
bool ConfigManager::get_item(std::vector<T>& values, const char* section, const char* key) const
{
    const auto sec = store_.find(section);
    if (sec == store_.end()) {
        return false;
    }
    const auto item = sec->second.find(key);
    if (item == sec->second.end() || item->second.data_type() != std::type_index(typeid(T))) {
        return false;
    }
    return item->second.get(values);
}

bool ConfigManager::set(const std::vector<int>& values, const char* section, const char* key)
{
    return set_item(values, section, key);
}

bool ConfigManager::set(const std::vector<double>& values, const char* section, const char* key)
{
    return set_item(values, section, key);
}

bool ConfigManager::set(const std::vector<std::string>& values, const char* section, const char* key)
{
    return set_item(values, section, key);
}

bool ConfigManager::get(std::vector<int>& values, const char* section, const char* key) const
{
    return get_item(values, section, key);
}

bool ConfigManager::get(std::vector<double>& values, const char* section, const char* key) const
{
    return get_item(values, section, key);
}

bool ConfigManager::get(std::vector<std::string>& values, const char* section, const char* key) const
{
    return get_item(values, section, key);
}

// key=type:<name>,{v1,v2,...}, or an empty string for an item whose list for
// its type is empty.
std::string ConfigManager::item_line(const std::string& key, const SingleItem& item) const
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << key << kAssign << kTypePrefix;
    const std::type_index type = item.data_type();
    if (type == std::type_index(typeid(double))) {
        std::vector<double> values;
        if (!item.get(values)) {
            return {};
        }
        out << kTypeFloat << "," << kListOpen;
        const uint32_t digits = std::min(std::max(precision_, kMinPrecision), kMaxPrecision);
        for (size_t i = 0; i < values.size(); ++i) {
            std::ostringstream number;
            number.imbue(std::locale::classic());
            number << std::fixed << std::setprecision(static_cast<int>(digits)) << values[i];
            std::string text = number.str();
            text.erase(text.find_last_not_of('0') + 1);
            out << (i ? "," : "") << text << "0";
        }
    } else if (type == std::type_index(typeid(std::string))) {
        std::vector<std::string> values;
        if (!item.get(values)) {
            return {};
        }
        out << kTypeString << "," << kListOpen;
        for (size_t i = 0; i < values.size(); ++i) {
            out << (i ? "," : "") << kQuote << values[i] << kQuote;
        }
    } else {
        std::vector<int> values;
        if (!item.get(values)) {
            return {};
        }
        out << kTypeInt << "," << kListOpen;
        for (size_t i = 0; i < values.size(); ++i) {
            out << (i ? "," : "") << values[i];
        }
    }
    out << kListClose;
    return out.str();
}

std::vector<std::string> ConfigManager::lines() const
{
    std::vector<std::string> out;
    for (const auto& section : store_) {
        out.push_back(kSectionOpen + section.first + kSectionClose);
        for (const auto& item : section.second) {
            std::string line = item_line(item.first, item.second);
            if (!line.empty()) {
                out.push_back(std::move(line));
            }
        }
    }
    return out;
}

bool ConfigManager::save(const std::string& path) const
{
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        return false;
    }
    for (const std::string& line : lines()) {
        file << line << "\n";
    }
    const std::string::size_type slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    file << "\n" << kEndLine << kQuote << name << kQuote;
    file.close();
    return true;
}

unsigned int ConfigManager::print_message() const
{
    const std::vector<std::string> text = lines();
    for (const std::string& line : text) {
        std::cout << line << "\n";
    }
    std::cout.flush();
    return static_cast<unsigned int>(text.size());
}

// One item line (whitespace already removed) into the store; false when the
// line is invalid.
bool ConfigManager::parse_item(const std::string& line, const std::string& section)
{
    const std::string::size_type assign = line.find(kAssign);
    const std::string key = line.substr(0, assign);
    if (key.empty() || !only_chars(key, kKeyChars)) {
        return false;
    }
    const std::string value = assign == std::string::npos ? std::string() : line.substr(assign + 1);
    if (STR_OP::str_strip(value, kComment).empty()) {
        return false;
    }
    const std::string::size_type open = value.find(kListOpen);
    const std::string::size_type close = value.find(kListClose);
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    const std::string list = value.substr(open + 1, close - open - 1);
    if (list.empty()) {
        return false;
    }
    const std::string rest = STR_OP::str_strip(value.substr(0, open) + value.substr(close + 1), kComment);
    const std::vector<std::string> type_parts = STR_OP::str_split(rest, ',');
    if (type_parts.size() != 1) {
        return false;
    }
    const std::string type = STR_OP::str_strip_front(type_parts[0], kTypePrefix);
    if (type.empty()) {
        return false;
    }
    const std::vector<std::string> parts = STR_OP::str_split(list, ',');
    if (parts.empty()) {
        return false;
    }

    if (type == kTypeInt) {
        std::vector<int> values;
        for (const std::string& part : parts) {
            int v = 0;
            if (!only_chars(part, kIntChars)) {
                return false;
            }
            if (!extract(part, v)) {
                VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "ERROR :: Value (" << part << ") is out of integer range.";
                return false;
            }
            values.push_back(v);
        }
        set(values, section.c_str(), key.c_str());
        return true;
    }
    if (type == kTypeFloat) {
        std::vector<double> values;
        for (const std::string& part : parts) {
            double v = 0.0;
            if (!only_chars(part, kFloatChars)) {
                return false;
            }
            if (!extract(part, v)) {
                VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "ERROR :: Value (" << part << ") is out of float range.";
                return false;
            }
            values.push_back(v);
        }
        set(values, section.c_str(), key.c_str());
        return true;
    }
    if (type == kTypeString) {
        std::vector<std::string> values;
        for (const std::string& part : parts) {
            if (part.size() < 2 || part.front() != kQuote || part.back() != kQuote) {
                return false;
            }
            values.push_back(part.substr(1, part.size() - 2));
        }
        set(values, section.c_str(), key.c_str());
        return true;
    }
    return false;
}

bool ConfigManager::load(const std::string& path)
{
    std::ifstream file(path);
    if (!file.is_open()) {
        return false;
    }
    std::map<std::string, Section> previous;
    previous.swap(store_);
    std::string section = kDefaultSection;
    std::string raw;
    while (std::getline(file, raw)) {
        const std::string line = STR_OP::str_remove_spaces(raw);
        if (line.empty()) {
            continue;
        }
        bool valid = true;
        if (line.compare(0, 2, kSectionOpen) == 0) {
            const std::string::size_type close = line.find(kSectionClose);
            if (close == std::string::npos) {
                valid = false;
            } else {
                section = line.substr(2, close - 2);
            }
        } else if (line[0] == kComment[0]) {
            continue;
        } else {
            valid = parse_item(line, section);
        }
        if (!valid) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Invalid line: " << kQuote << line << kQuote;
            store_.swap(previous);
            return false;
        }
    }
    return true;
}

} // namespace VELKOR
