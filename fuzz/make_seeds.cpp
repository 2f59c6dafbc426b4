// Writes the seed corpus of every fuzz target below the directory given:
// <dir>/<target>/<name>, built by the simulator's own encoder, reply texts
// and firmware frames, so the fuzzers start from well-formed traffic.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "datagram_encoder.hpp"
#include "fuzz_input.hpp"
#include "session/settings_file.hpp"
#include "sim_firmware.hpp"
#include "sim_sensor.hpp"
#include "util/config_manager.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using VELKOR::SIM::EncoderFrame;
using VELKOR::SIM::EncoderOptions;

std::string g_root;

std::string target_dir(const std::string& target)
{
    const std::string dir = g_root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

bool write(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string path = target_dir(target) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::cerr << "make_seeds: cannot write " << path << std::endl;
        return false;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return true;
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A small frame (few pixel records per row) keeps seeds a few kB per row.
EncoderFrame small_frame(uint32_t number, int cols, int returns, int ambient_words)
{
    EncoderFrame full = VELKOR::SIM::make_synthetic_frame(number, 7, returns, ambient_words);
    EncoderFrame frame = full;
    frame.cols = cols;
    frame.allocate();
    for (int row = 0; row < frame.rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            for (int k = 0; k < returns; ++k) {
                frame.depth[frame.index(row, col, k)] = full.depth[full.index(row, col, k)];
                frame.intensity[frame.index(row, col, k)] = full.intensity[full.index(row, col, k)];
            }
        }
    }
    frame.ambient = full.ambient;
    return frame;
}

Bytes chunked(const std::vector<Bytes>& datagrams)
{
    Bytes out;
    for (const auto& d : datagrams) {
        VELKOR::FUZZ::append_chunk(out, d);
    }
    return out;
}

// The `.bin` form: i64 time, u64 length, payload, little-endian.
Bytes recording(const std::vector<Bytes>& datagrams)
{
    Bytes out;
    int64_t time = 1700000000000000LL;
    for (const auto& d : datagrams) {
        for (int i = 0; i < 8; ++i) {
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(time) >> (8 * i)));
        }
        for (int i = 0; i < 8; ++i) {
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(d.size()) >> (8 * i)));
        }
        out.insert(out.end(), d.begin(), d.end());
        time += 357;
    }
    return out;
}

void datagram_seeds()
{
    EncoderOptions plain;
    const auto small = VELKOR::SIM::encode_frame(small_frame(0, 6, 1, 192), plain);
    write("stream_assembler", "small_frame", chunked(small));

    EncoderOptions two_blocks;
    two_blocks.blocks = 2;
    two_blocks.fill_unused = true;
    const auto wide = VELKOR::SIM::encode_frame(small_frame(1, 4, 2, 576), two_blocks);
    write("stream_assembler", "two_returns_576_ambient", chunked(wide));

    auto flagged = VELKOR::SIM::encode_frame(small_frame(2, 4, 1, 192), plain);
    flagged[10][0xAF] = 1;
    std::vector<Bytes> mixed = flagged;
    EncoderOptions blocks;
    blocks.block_error_mask = 0x2;
    mixed.push_back(VELKOR::SIM::encode_slot(small_frame(3, 4, 1, 192), 0, blocks));
    EncoderOptions echo;
    echo.data_kind = 1;
    const auto echo_frame = VELKOR::SIM::encode_frame(small_frame(4, 3, 1, 192), echo);
    mixed.insert(mixed.end(), echo_frame.begin(), echo_frame.end());
    write("stream_assembler", "flags_and_echo", chunked(mixed));

    const auto full = VELKOR::SIM::encode_frame(VELKOR::SIM::make_synthetic_frame(5, 1), plain);
    write("stream_assembler", "full_frame", chunked(full));

    // Recordings: two small frames, one with a missing row, and a torn tail.
    std::vector<Bytes> two = small;
    const auto next = VELKOR::SIM::encode_frame(small_frame(6, 6, 1, 192), plain);
    two.insert(two.end(), next.begin(), next.end());
    const Bytes two_frames = recording(two);
    write("recording", "two_frames", two_frames);
    write("replay", "two_frames", two_frames);

    std::vector<Bytes> gap = small;
    gap.erase(gap.begin() + 20);
    gap.insert(gap.end(), next.begin(), next.end());
    write("recording", "missing_row", recording(gap));
    write("replay", "missing_row", recording(gap));

    Bytes torn = two_frames;
    torn.resize(torn.size() - 333);
    write("recording", "torn_tail", torn);
    write("replay", "wide_frame", recording(wide));
}

void reply_seeds()
{
    const std::string settings = VELKOR::SIM::SimSensor::default_settings().dump();
    // Mode byte: bit 0 raw (firmware) mode, bit 1 settings route.
    Bytes json_settings{2};
    VELKOR::FUZZ::append_chunk(json_settings, text_bytes(settings));
    write("tcp_reply", "settings", json_settings);

    Bytes general{0};
    VELKOR::FUZZ::append_chunk(general, text_bytes("{\"command\":\"run\",\"result\":true}"));
    VELKOR::FUZZ::append_chunk(general, text_bytes(settings.substr(0, settings.size() / 2)));
    VELKOR::FUZZ::append_chunk(general, text_bytes(settings.substr(settings.size() / 2)));
    VELKOR::FUZZ::append_chunk(general, text_bytes("{\"firmware_upgrade\":true}{\"firmware_upgrade\":true}"));
    write("tcp_reply", "general", general);

    using VELKOR::SIM::SimFirmware;
    const std::vector<Bytes> upload{
        SimFirmware::make_frame('F', 'A', ""),     SimFirmware::make_frame('F', 'R', "12.5"),
        SimFirmware::make_frame('F', 'R', "100"),  SimFirmware::make_frame('F', 'P', "50"),
        SimFirmware::make_frame('F', 'P', "100"),  SimFirmware::make_frame('F', 'X', ""),
    };
    Bytes raw{1};
    for (const auto& frame : upload) {
        VELKOR::FUZZ::append_chunk(raw, frame);
    }
    write("tcp_reply", "firmware", raw);
    write("fw_reply", "upload", chunked(upload));
    write("fw_reply", "odd", chunked({SimFirmware::make_frame('G', 'R', "10"),
                                      SimFirmware::make_frame('F', 'R', "abc"),
                                      SimFirmware::make_frame('F', 'P', "FW_Upload_Finish!"), Bytes{3, 0}}));
}

void file_seeds()
{
    const std::string dir = target_dir("config_load");
    VELKOR::ConfigManager config(4);
    config.set(std::vector<int>{1, -2, 300}, "CONFIGURATIONS", "ints");
    config.set(std::vector<double>{1.5, -0.25}, "gains", "gain");
    config.set(std::vector<std::string>{"a", "b c"}, "names", "list");
    config.save(dir + "/three_sections");

    const std::string json_dir = target_dir("json_file");
    nlohmann::json settings = VELKOR::SIM::SimSensor::default_settings();
    TQZ::write_settings_file((json_dir + "/settings").c_str(), settings);
    write("json_file", "small", text_bytes("{\"a\":[1,2.5,-3e4,true,null],\"s\":\"x\\u00e9\\n\"}"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: velkor_fuzz_seeds <directory>" << std::endl;
        return 2;
    }
    g_root = argv[1];
    ::mkdir(g_root.c_str(), 0755);
    datagram_seeds();
    reply_seeds();
    file_seeds();
    return 0;
}
