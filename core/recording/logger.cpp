#include "recording/logger.hpp"

// Placeholder until the recorder lands: every operation reports failure.
namespace VELKOR {

Logger::Logger() = default;
Logger::~Logger() { close(); }
bool Logger::open(const LOG_PROPS_T&) { return false; }
void Logger::close() {}
void Logger::write(const unsigned char*, unsigned long long) {}
bool Logger::is_open() const { return false; }
bool Logger::is_read() { return false; }
bool Logger::get_recorder_type(MODE) { return true; }
bool Logger::loadingprocess() { return false; }
bool Logger::read_once(int) { return false; }
bool Logger::read(unsigned char*, unsigned int) { return false; }
unsigned int Logger::current_pos() const { return 0; }
bool Logger::get_total_size(unsigned long long& count)
{
    count = 0xFFFFFFFFull;
    return true;
}

}  // namespace VELKOR
