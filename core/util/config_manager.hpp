#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <typeindex>
#include <vector>

namespace VELKOR {

// Typed key-value store in named sections, with a line-oriented text form:
//
//   #[section]
//   key=type:int,{1,-2}
//   gain=type:float,{1.50,2.0}
//   names=type:string,{"a","b"}
//
// Items before any section line belong to section "CONFIGURATIONS". Blanks
// anywhere in a line are dropped when loading; "#" starts a comment.
class ConfigManager {
public:
    // One value list; it remembers which of its three lists it holds.
    class SingleItem {
    public:
        SingleItem();

        // Each set makes the element type the item's type and replaces that
        // list only. True when the list given is not empty.
        bool set(const std::vector<int>& values);
        bool set(const std::vector<double>& values);
        bool set(const std::vector<std::string>& values);

        // Copies the list of that element type, whatever the item's type.
        // True when it is not empty.
        bool get(std::vector<int>& values) const;
        bool get(std::vector<double>& values) const;
        bool get(std::vector<std::string>& values) const;

        std::type_index data_type() const { return type_; }
        // Empties all three lists; the type stays.
        void clear();

    private:
        std::type_index type_;
        std::vector<int> ints_;
        std::vector<double> doubles_;
        std::vector<std::string> strings_;
    };

    // precision: digits after the decimal point when writing floats. 0 cannot
    // be written in this format and is written as 1; more than 64 as 64.
    explicit ConfigManager(uint32_t precision = 10);

    // Create section and item as needed; true when the list is not empty.
    bool set(const std::vector<int>& values, const char* section, const char* key);
    bool set(const std::vector<double>& values, const char* section, const char* key);
    bool set(const std::vector<std::string>& values, const char* section, const char* key);

    // False when the item is missing or holds another element type; else
    // copies its list and is true when that list is not empty.
    bool get(std::vector<int>& values, const char* section, const char* key) const;
    bool get(std::vector<double>& values, const char* section, const char* key) const;
    bool get(std::vector<std::string>& values, const char* section, const char* key) const;

    // Replaces the whole store with the file's contents, or leaves it as it
    // was (false) when the file cannot be opened or has an invalid line.
    bool load(const std::string& path);
    // Writes the store followed by an empty line and the line
    // ## The end of "<file name>". False when the file cannot be opened.
    // An item with an empty list has no line form that load accepts, so it is
    // left out of the file (and out of print_message) rather than making the
    // whole file unreadable.
    bool save(const std::string& path) const;
    // Writes the lines save would write (without the end line) to standard
    // output and returns their number.
    unsigned int print_message() const;

private:
    using Section = std::map<std::string, SingleItem>;

    template <typename T> bool set_item(const std::vector<T>& values, const char* section, const char* key);
    template <typename T> bool get_item(std::vector<T>& values, const char* section, const char* key) const;
    std::vector<std::string> lines() const;
    std::string item_line(const std::string& key, const SingleItem& item) const;
    bool parse_item(const std::string& line, const std::string& section);

    std::map<std::string, Section> store_;
    uint32_t precision_;
};

} // namespace VELKOR
