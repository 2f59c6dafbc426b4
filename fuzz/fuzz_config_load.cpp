// ConfigManager::load on arbitrary text. Whatever it accepts must survive a
// save and a second load unchanged.
#include <cstdint>

#include "fuzz_input.hpp"
#include "util/config_manager.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static VELKOR::FUZZ::InputFile input("config.txt");
    static VELKOR::FUZZ::InputFile saved("config-saved.txt");
    static VELKOR::FUZZ::InputFile again("config-again.txt");
    VELKOR::ConfigManager config;
    if (!config.load(input.write(data, size))) {
        return 0;
    }
    if (!config.save(saved.path())) {
        return 0;
    }
    VELKOR::ConfigManager reloaded;
    if (!reloaded.load(saved.path()) || !reloaded.save(again.path())) {
        __builtin_trap();
    }
    return 0;
}
