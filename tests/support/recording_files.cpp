#include "recording_files.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace recording_files {

namespace {
void put_le(Bytes& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}
}  // namespace

Bytes datagram(uint16_t sequence, std::size_t size, uint32_t tag, uint16_t slots)
{
    Bytes payload(size);
    for (std::size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>((i * 31u + tag * 7u + sequence) & 0xFF);
    }
    if (size >= 6) {
        payload[4] = static_cast<uint8_t>(sequence & 0xFF);
        payload[5] = static_cast<uint8_t>(sequence >> 8);
    }
    if (size >= 0xA2) {
        payload[0xA0] = static_cast<uint8_t>(slots & 0xFF);
        payload[0xA1] = static_cast<uint8_t>(slots >> 8);
    }
    return payload;
}

Bytes header(int64_t time_us, uint64_t length)
{
    Bytes out;
    put_le(out, static_cast<uint64_t>(time_us));
    put_le(out, length);
    return out;
}

Bytes record(int64_t time_us, const Bytes& payload)
{
    Bytes out = header(time_us, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void append(Bytes& file, const Bytes& more) { file.insert(file.end(), more.begin(), more.end()); }

bool write_file(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
// One directory per process, so parallel test runs never share files; it is
// removed when the process exits.
struct ProcessDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("velkor_rec_" + std::to_string(::getpid()));
    ~ProcessDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};
}  // namespace

std::string fresh_dir(const std::string& name)
{
    static ProcessDir base;
    const std::filesystem::path dir = base.path / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir.string() + "/";
}

}  // namespace recording_files
