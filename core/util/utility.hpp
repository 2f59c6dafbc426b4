#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace VELKOR {
namespace UTILITY {

// Hex dump: an optional "\n> title" line, then "hex : { 01 AB ... } TOTAL(n)".
// With limit smaller than count only bytes 0 to limit and the last limit bytes
// are shown, a "..." line standing before byte limit.
std::string hex_array_to_string(const void* data, unsigned int count, const std::string& title,
                                unsigned int limit);
// Writes hex_array_to_string to standard output and ends the line.
void print_hex(const void* data, unsigned int count, const std::string& title, unsigned int limit);

// XORs count bytes into *checksum; set it to 0 first for a fresh checksum.
void calculate_checksum(uint8_t* checksum, const void* data, unsigned int count);

// Colour ramp of v over [min, max]. The branch is chosen by the raw value
// against 128, the intensity by the scaled value (modulo 256).
std::array<uint8_t, 3> range_to_color(uint16_t v, uint16_t max, uint16_t min);

// Serial devices present, as (number, description) pairs in name order.
//
// Every entry of the tty class directory (/sys/class/tty) with a `device`
// link is a candidate, except UART placeholders whose `type` reads 0 (no
// hardware found at that port). The number is the decimal value of the
// trailing digits of the entry name (ttyUSB0 -> 0, ttyACM12 -> 12); names
// without trailing digits are not listed. When a number is already taken by
// an entry earlier in name order, the later entry gets the next number above
// the largest derived one (ttyACM0 -> 0, ttyS0 -> 5 when ttyS4 is the largest).
// The description is the USB product string or else the driver name,
// followed by the device path in parentheses: "FT232R USB UART (/dev/ttyUSB0)".
std::vector<std::pair<unsigned int, std::string>> enum_serialport();
// The same over another tty class directory (a test tree, for instance).
std::vector<std::pair<unsigned int, std::string>> enum_serialport(const std::string& tty_class_dir);

} // namespace UTILITY
} // namespace VELKOR
