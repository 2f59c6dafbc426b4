#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace VELKOR {
namespace SIM {

// The firmware side of the simulated sensor. It answers the JSON request that
// starts an upgrade, then takes the raw bytes of the TCP connection: it
// reassembles the binary upload frames from the byte stream, answers the
// start frame with 'F''A', reports receive progress ('F''R') per data packet
// and, once the last packet is in and the count matches the announcement,
// programming progress ('F''P') ending with "100". Fault modes let tests drive
// every failure path of the host.
//
// Pure over bytes: the caller sends the returned replies, each in its own
// write, pausing `reply_spacing` before each programming report so that every
// reply reaches the host as a chunk of its own.
class SimFirmware {
public:
    enum class Fault {
        none,
        refuse,               // 'F''X' after the first data packet
        json_refuse,          // {"firmware_upgrade":false}
        json_silent,          // no answer to the JSON request
        json_not_boolean,     // {"firmware_upgrade":"yes"}
        no_ack,               // no answer to the start frame
        wrong_main,           // a reply with main command 'G'
        wrong_sub,            // a reply with 'F' and sub command 'Q'
        bad_progress,         // 'F''R' with the text "abc"
        silent_mid_transfer,  // acknowledges, then never answers again
    };

    struct Options {
        Fault fault = Fault::none;
        // Programming reports sent after a complete, consistent image.
        std::vector<std::string> programming_texts{"50", "100"};
        std::chrono::milliseconds reply_spacing{40};
    };

    struct Reply {
        std::vector<uint8_t> bytes;
        bool spaced = false;  // pause reply_spacing before sending it
    };

    enum class State { waiting_start, receiving, programmed, failed };

    SimFirmware();
    explicit SimFirmware(Options options);

    // The JSON text answering {"system_mode":"firmware_upgrade"}; empty when
    // the sensor keeps silent.
    std::string json_answer() const;

    // Takes bytes received on the TCP connection (any split) and returns the
    // replies they call for, in order.
    std::vector<Reply> receive(const uint8_t* data, std::size_t length);

    // A binary frame as the sensor sends it: length, main, sub, text.
    static std::vector<uint8_t> make_frame(uint8_t main_command, uint8_t sub_command,
                                           const std::string& text);

    const Options& options() const { return options_; }
    State state() const;
    int announced_packets() const;   // -1 before the start frame
    int packets_received() const;
    std::vector<uint8_t> image() const;             // data bytes in arrival order
    std::vector<std::size_t> frame_sizes() const;   // wire size of every frame taken
    std::string failure() const;                    // why the image was rejected

private:
    void take_frame(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies);
    void take_start(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies);
    void take_data(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies);
    void reject(const std::string& why, std::vector<Reply>& replies);

    Options options_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> pending_;  // bytes of a frame not yet complete
    State state_ = State::waiting_start;
    int announced_ = -1;
    int received_ = 0;
    std::vector<uint8_t> image_;
    std::vector<std::size_t> frame_sizes_;
    std::string failure_;
};

}  // namespace SIM
}  // namespace VELKOR
