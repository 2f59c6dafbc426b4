#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "util/log_sink.hpp"

// Helpers shared by the fuzz targets: cutting one input into the chunks a
// socket would deliver, and handing an input to code that reads files.
namespace VELKOR {
namespace FUZZ {

// Splits `data` into chunks, each a little-endian u16 length followed by that
// many bytes; a length running past the end takes what is left. The seed
// generator writes its inputs in the same form.
inline std::vector<std::vector<uint8_t>> split_chunks(const uint8_t* data, std::size_t size)
{
    std::vector<std::vector<uint8_t>> chunks;
    std::size_t at = 0;
    while (at + 2 <= size) {
        std::size_t length = static_cast<std::size_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        if (length > size - at) {
            length = size - at;
        }
        chunks.emplace_back(data + at, data + at + length);
        at += length;
    }
    return chunks;
}

inline void append_chunk(std::vector<uint8_t>& out, const std::vector<uint8_t>& chunk)
{
    const std::size_t length = chunk.size() > 0xFFFF ? 0xFFFF : chunk.size();
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(length));
}

// Diagnostic lines of the libraries ("act crc err!!!" for every flagged
// block) are still built but not printed: a target that prints them for
// every input writes gigabytes of log and runs slower, and the report of a
// finding drowns in them.
inline void drop_library_lines()
{
    set_log_sink_handler([](void*, log_level, const std::string&) {}, nullptr);
}

// A file of this process holding the current input; rewritten for every run.
class InputFile {
public:
    explicit InputFile(const char* name)
        : path_("/tmp/velkor-fuzz-" + std::to_string(::getpid()) + "-" + name)
    {
    }
    ~InputFile() { std::remove(path_.c_str()); }

    const std::string& write(const uint8_t* data, std::size_t size)
    {
        if (std::FILE* f = std::fopen(path_.c_str(), "wb")) {
            if (size > 0) {
                std::fwrite(data, 1, size, f);
            }
            std::fclose(f);
        }
        return path_;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace FUZZ
}  // namespace VELKOR
