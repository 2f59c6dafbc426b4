#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

// A simulated TQ-Z sensor for tests, demos and the `tqz sim` command: a TCP
// command server answering the JSON commands and, while running, a UDP stream
// of data datagrams sent to the address and port the client's TCP connection
// comes from.
//
// Extension points (kept small on purpose):
//   - SimOptions: every knob, including fault injection.
//   - DatagramSource: where frames come from. The default is SimRoom (a
//     synthetic room); set_datagram_source plugs another one, for example a
//     replay of a recording.
//   - RawHandler: with set_raw_handler_factory, {"system_mode":
//     "firmware_upgrade"} creates a handler, sends its json_answer() and from
//     then on hands every byte the client sends on that connection to the
//     handler, which answers through the SimLink it is given. Without a
//     factory the request is answered {"firmware_upgrade":false}.
namespace VELKOR {
namespace SIM {

// How the command server misbehaves when answering.
enum class ReplyFault {
    none,
    no_reply,      // never answers
    invalid_json,  // answers with text that is not JSON
    split,         // sends each reply in two parts, a moment apart
    doubled,       // sends each reply twice in one send
};

struct SimOptions {
    std::string bind_ip = "127.0.0.1";
    int port = 0;      // TCP command port; 0 lets the system choose
    double fps = 10.0; // frames per second while running
    uint32_t seed = 1;
    int returns = 1;          // returns per pixel record
    int ambient_words = 576;  // per row: 576 as the sensor sends, or 192

    // Data-stream faults; rates are probabilities per datagram.
    double loss_rate = 0.0;       // datagram not sent
    double reorder_rate = 0.0;    // datagram swapped with the next one
    double crc_rate = 0.0;        // packet error flag set
    double block_crc_rate = 0.0;  // error flag of one pixel block set
    double garbage_rate = 0.0;    // random bytes sent in place of the datagram
    int slots_field = 56;         // value written in the slots-per-frame field

    ReplyFault reply_fault = ReplyFault::none;

    // The settings document the sensor serves to {"command":"json_read"};
    // null serves SimSensor::default_settings(). Its "PL_Reg" ->
    // "walk_err_param" (six numbers) are the walk-error coefficients the
    // room's time model applies, so that a host correcting with the served
    // coefficients gets the true ranges back; without six numbers the room
    // applies no walk error, as such a host corrects none.
    nlohmann::json settings;
};

// A source of frames, each a list of datagrams in sending order. Called on
// the simulator's stream thread only. The simulator may change the datagrams
// in place (fault injection), so a source refills them for every frame.
class DatagramSource {
public:
    virtual ~DatagramSource() = default;
    // Fills `datagrams` with the next frame; false when there are no more
    // frames (streaming then stops until the next run command).
    virtual bool next_frame(std::vector<std::vector<uint8_t>>& datagrams) = 0;
    // A source with timing of its own (a recording) also gives each
    // datagram's send time in microseconds, on a clock of its own that never
    // runs backwards; the simulator then sends every datagram at its time
    // instead of spreading the frame over the frame period. The default
    // gives no times.
    virtual bool next_timed_frame(std::vector<std::vector<uint8_t>>& datagrams, std::vector<int64_t>& times_us)
    {
        times_us.clear();
        return next_frame(datagrams);
    }
};

// The command connection as a raw handler sees it.
class SimLink {
public:
    virtual ~SimLink() = default;
    // Sends bytes to the client as one TCP send; false once the client is gone.
    virtual bool send(const void* data, std::size_t length) = 0;
};

// Takes over a command connection after a firmware-upgrade request.
// on_bytes runs on the simulator's command thread for every chunk received.
class RawHandler {
public:
    virtual ~RawHandler() = default;
    // Text answering the firmware-upgrade request; empty sends nothing.
    virtual std::string json_answer() { return "{\"firmware_upgrade\":true}"; }
    virtual void on_bytes(SimLink& link, const uint8_t* data, std::size_t length) = 0;
};
using RawHandlerFactory = std::function<std::unique_ptr<RawHandler>()>;

class SimSensor {
public:
    explicit SimSensor(SimOptions options = {});
    ~SimSensor();

    SimSensor(const SimSensor&) = delete;
    SimSensor& operator=(const SimSensor&) = delete;

    // Binds and listens, then serves on its own threads. False when the
    // address cannot be bound; start_error() then says why.
    bool start();
    std::string start_error() const { return start_error_; }
    // Closes every socket and joins the threads.
    void stop();

    std::string address() const { return options_.bind_ip; }
    uint16_t port() const { return port_; }

    // Call before start (or while no client is connected).
    void set_datagram_source(std::shared_ptr<DatagramSource> source);
    void set_raw_handler_factory(RawHandlerFactory factory);

    // May be changed at any time.
    void set_reply_fault(ReplyFault fault) { reply_fault_ = fault; }
    void set_loss_rate(double rate) { loss_rate_ = rate; }

    // Closes the command connection and the listening socket and listens
    // again on the same port, as a sensor whose command server restarts
    // does; the stream stops with the connection. Done by the command thread
    // within moments; callable from any thread.
    void restart_command_server() { restart_requested_ = true; }
    uint64_t command_server_restarts() const { return restarts_done_; }

    // The settings document answered to {"command":"json_read"}, and the copy
    // last stored by {"command":"json_save"}.
    nlohmann::json settings() const;
    nlohmann::json saved_settings() const;
    void set_settings(const nlohmann::json& settings);

    bool streaming() const { return streaming_; }
    bool client_connected() const { return client_connected_; }
    uint64_t frames_sent() const { return frames_sent_; }
    uint64_t datagrams_sent() const { return datagrams_sent_; }
    uint64_t commands_received() const { return commands_received_; }
    // Frames whose every datagram was sent unchanged and in order: no loss,
    // swap, error flag or garbage injected, and not cut short by a stop.
    uint64_t frames_sent_intact() const { return frames_intact_; }

    // When the last row of frame `sequence` (the u32 at the start of each
    // row) was handed to sendto, in steady_clock nanoseconds since its epoch;
    // 0 when no such row was sent. Kept for the last kSentStamps frames, so a
    // stamp older than that reads as a newer frame's.
    int64_t frame_end_sent_ns(uint32_t sequence) const
    {
        return frame_end_sent_ns_[sequence % kSentStamps].load(std::memory_order_acquire);
    }
    static constexpr std::size_t kSentStamps = 64;

    static nlohmann::json default_settings();

private:
    class Link;

    void command_loop();
    void stream_loop();
    void serve_chunk(Link& link, const char* data, std::size_t length);
    void handle_command(Link& link, const nlohmann::json& command);
    void reply(Link& link, const nlohmann::json& value);
    // True when the datagram went out as the source made it.
    bool send_datagram(std::vector<uint8_t>& datagram, uint32_t& rng);
    // True when the whole frame went out unchanged and in order.
    bool send_timed_frame(std::vector<std::vector<uint8_t>>& datagrams, const std::vector<int64_t>& times_us,
                          uint32_t& rng);
    bool listen_on(uint16_t port, std::string& error);
    void drop_client();

    SimOptions options_;
    uint16_t port_ = 0;
    std::string start_error_;
    int listen_fd_ = -1;
    int udp_fd_ = -1;

    std::atomic<bool> active_{false};
    std::atomic<bool> streaming_{false};
    std::atomic<bool> client_connected_{false};
    std::atomic<ReplyFault> reply_fault_{ReplyFault::none};
    std::atomic<double> loss_rate_{0.0};
    std::atomic<uint64_t> frames_sent_{0};
    std::atomic<uint64_t> datagrams_sent_{0};
    std::atomic<uint64_t> commands_received_{0};
    std::atomic<uint64_t> frames_intact_{0};
    std::atomic<bool> restart_requested_{false};
    std::atomic<uint64_t> restarts_done_{0};
    std::atomic<int64_t> frame_end_sent_ns_[kSentStamps] = {};

    // Where data datagrams go: the client's TCP peer address (network order).
    std::atomic<uint32_t> client_addr_{0};
    std::atomic<uint16_t> client_port_{0};

    mutable std::mutex settings_mutex_;
    nlohmann::json settings_;
    nlohmann::json saved_settings_;

    std::shared_ptr<DatagramSource> source_;
    RawHandlerFactory raw_factory_;

    // Timed sources (stream thread only): a datagram at time t goes out at
    // timed_epoch_ + t; the first datagram after a (re)start sets the epoch.
    std::chrono::steady_clock::time_point timed_epoch_;
    bool timed_resync_ = true;

    std::unique_ptr<Link> link_;  // command thread only
    std::thread command_thread_;
    std::thread stream_thread_;
};

}  // namespace SIM
}  // namespace VELKOR
