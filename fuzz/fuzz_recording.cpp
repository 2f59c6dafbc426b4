// The recording reader on its own: the input is a `.bin` file. Opening it
// runs the frame-index scan; then every indexed frame is loaded with
// read_once (the packet queue drained between loads, as the replay does),
// and the stream is read on from where the scan left it.
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "recording/logger.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static VELKOR::FUZZ::InputFile file("recording.bin");
    VELKOR::Logger logger;
    VELKOR::LOG_PROPS_T props;
    props.file_path = file.write(data, size);
    props.read_mode = true;
    if (!logger.open(props)) {
        return 0;
    }
    const std::vector<uint64_t> index = logger.frame_index();
    // Positions rise strictly and end at the file size.
    if (index.empty() || index.back() != size) {
        __builtin_trap();
    }
    for (std::size_t i = 1; i < index.size(); ++i) {
        if (index[i - 1] >= index[i]) {
            __builtin_trap();
        }
    }
    std::vector<uint8_t> payload;
    const int frames = static_cast<int>(index.size()) - 1;
    for (int i = -1; i <= frames && i < 64; ++i) {
        logger.read_once(i);
        while (logger.packet_queue.pop(payload)) {
        }
    }
    unsigned char buffer[64];
    logger.read(buffer, sizeof buffer);
    unsigned long long last = 0;
    logger.get_total_size(last);
    logger.close();
    return 0;
}
