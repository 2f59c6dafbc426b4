// json_read_from_file on arbitrary bytes. A document it reads must be written
// by json_write_to_file and read back equal.
#include <cstdint>

#include <nlohmann/json.hpp>

#include "fuzz_input.hpp"
#include "session/settings_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static VELKOR::FUZZ::InputFile input("settings.json");
    static VELKOR::FUZZ::InputFile output("settings-out.json");
    nlohmann::json value;
    if (!TQZ::read_settings_file(input.write(data, size).c_str(), value)) {
        return 0;
    }
    if (!TQZ::write_settings_file(output.path().c_str(), value)) {
        return 0;  // e.g. invalid UTF-8 inside a string: refused before writing
    }
    nlohmann::json back;
    if (!TQZ::read_settings_file(output.path().c_str(), back) || back != value) {
        __builtin_trap();
    }
    return 0;
}
