#include "main_window/replay_timing.hpp"

#include <fstream>

#include "recording/logger.hpp"

namespace replay_timing {

std::vector<int64_t> frame_stamps(const std::string& path, uint64_t& file_bytes) {
    file_bytes = 0;
    std::vector<uint64_t> starts;
    {
        VELKOR::Logger reader;
        VELKOR::LOG_PROPS_T props;
        props.file_path = path;
        props.read_mode = true;
        if (!reader.open(props))
            return {};
        starts = reader.frame_index();
        reader.close();
    }
    if (starts.empty())
        return {};
    // The index ends with the file size.
    file_bytes = starts.back();
    starts.pop_back();
    std::ifstream file(path, std::ios::binary);
    std::vector<int64_t> stamps;
    stamps.reserve(starts.size());
    for (const uint64_t at : starts) {
        unsigned char b[8];
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(reinterpret_cast<char*>(b), sizeof b))
            return {};
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | b[i];  // little-endian
        stamps.push_back(static_cast<int64_t>(v));
    }
    return stamps;
}

double recorded_rate(const std::vector<int64_t>& stamps_us) {
    if (stamps_us.size() < 2 || stamps_us[0] <= 0)
        return 0.0;
    for (size_t i = 1; i < stamps_us.size(); ++i) {
        const int64_t gap = stamps_us[i] - stamps_us[i - 1];
        if (gap <= 0 || gap > kMaxFrameGapUs)
            return 0.0;
    }
    const double span_s = static_cast<double>(stamps_us.back() - stamps_us.front()) / 1e6;
    return static_cast<double>(stamps_us.size() - 1) / span_s;
}

}  // namespace replay_timing
