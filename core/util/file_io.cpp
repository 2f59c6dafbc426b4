#include "util/file_io.hpp"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include "util/log_sink.hpp"

namespace VELKOR {
namespace FILE_IO {

uint32_t get_file_size(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        return 0;
    }
    const std::streamoff size = file.tellg();
    return size < 0 ? 0 : static_cast<uint32_t>(size);
}

std::vector<std::vector<uint8_t>> read_binary_file(const std::string& path, unsigned int chunk_size, bool pad)
{
    std::vector<std::vector<uint8_t>> chunks;
    if (chunk_size == 0) {
        return chunks; // a zero chunk would never advance
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return chunks;
    }
    try {
        file.exceptions(std::ios::badbit);
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        file.seekg(0, std::ios::beg);
        std::streamoff total = 0;
        while (total < size) {
            std::vector<uint8_t> chunk(chunk_size, 0xFF);
            file.read(reinterpret_cast<char*>(chunk.data()), chunk_size);
            const std::streamsize got = file.gcount();
            if (got <= 0) {
                break; // the file shrank while being read
            }
            total += got;
            if (!pad && got < static_cast<std::streamsize>(chunk_size)) {
                chunk.resize(static_cast<size_t>(got));
            }
            chunks.push_back(std::move(chunk));
        }
    } catch (const std::exception&) {
        std::perror(("ERROR :: failed to read the firmware file : " + path).c_str());
        return {};
    }
    return chunks;
}

int writeBinaryFile(const std::string& path, const void* data, unsigned int count, char mode)
{
    const std::ios::openmode flags = std::ios::binary | (mode == 'a' ? std::ios::app : std::ios::trunc);
    std::ofstream file(path, flags | std::ios::out);
    if (!file.is_open()) {
        return -1;
    }
    file.write(static_cast<const char*>(data), count);
    file.flush();
    if (!file) {
        return -1; // a full disk must not be reported as written
    }
    return static_cast<int>(count);
}

std::vector<std::string> read_ascii_file(const std::string& path, unsigned int line_limit)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    if (!file.is_open() || file.eof()) {
        return lines;
    }
    std::string line;
    while (true) {
        std::getline(file, line);
        if (file.fail() && !file.eof()) {
            break; // a read error (a directory, say) rather than the end
        }
        lines.push_back(line);
        if (lines.size() == line_limit || file.eof()) {
            break;
        }
    }
    return lines;
}

bool write_ascii_file(const std::string& path, const std::string& text, bool append)
{
    try {
        std::ofstream file;
        file.exceptions(std::ios::badbit);
        file.open(path, append ? std::ios::app : std::ios::trunc);
        if (!file.is_open()) {
            return false;
        }
        file << text;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "Exception caught: " << e.what();
        return false;
    }
    return true;
}

bool check_file_exists(const std::string& path)
{
    std::ifstream file(path);
    return file.is_open();
}

} // namespace FILE_IO
} // namespace VELKOR
