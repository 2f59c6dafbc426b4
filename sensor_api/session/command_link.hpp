#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/error_text.hpp"
#include "session/frame_types.hpp"
#include "transport/ext_interface_tcp_client.hpp"
#include "util/bounded_queue.hpp"

namespace TQZ {

// The command connection of one sensor: the TCP client, the commands written
// on it (each with the pause the sensor needs after it) and the replies it
// brings back. Each chunk the transport delivers is one reply: parsed as JSON
// and routed to the settings queue (the answer to json_read) or the general
// queue (everything else), or, once the link has switched to binary frames
// for a firmware upload, queued raw. Each queue keeps its 3 newest replies.
//
// Threads: the caller's thread sends and takes replies; the transport's
// receive thread runs on_receive. The firmware upload thread takes binary
// replies and writes frames.
class CommandLink {
public:
    explicit CommandLink(ErrorText& error);
    // Closes the link and joins its receive thread.
    ~CommandLink();

    CommandLink(const CommandLink&) = delete;
    CommandLink& operator=(const CommandLink&) = delete;

    // Registers the receive callback and connects; the transport writes the
    // local endpoint it uses back into `settings`. On failure the error
    // text is the transport's reason.
    bool connect(VELKOR::ExtInterface_TCP_client::IpSettings& settings);
    void disconnect();
    bool connected();

    // The fixed commands. Each sets where the reply goes, writes its bytes
    // in one write and, after a successful write, pauses as the sensor needs.
    // False (with the error text) when not connected or the write fails.
    bool run();                 // {"command":"run"}, 1 ms
    bool stop();                // {"command":"stop"}, 1 ms
    bool request_settings();    // {"command":"json_read"}, reply to settings, 1 ms
    bool save_settings();       // {"command":"json_save"}, 100 ms
    bool send_json(const nlohmann::json& message);  // compact dump, 100 ms

    // The oldest reply to json_read; out is null when none is waiting.
    bool take_setting(nlohmann::json& out);
    // Wait up to `timeout` for the oldest reply of their kind; false (out
    // untouched) when none comes in time. No error text is set.
    bool wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout);
    bool wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout);
    // As above, but also ends (false) once `give_up` is set and interrupt()
    // is called; a reply already queued is still taken.
    bool wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout, const std::atomic<bool>& give_up);
    bool wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout, const std::atomic<bool>& give_up);
    // Makes a connect under way on another thread, and every later one,
    // fail ("interrupted"), and wakes the reply waits. Any thread.
    void interrupt();

    // Binary frames of the firmware upload. Once switched, the link stays
    // binary for the life of the session.
    void switch_to_binary();
    bool binary() const { return !json_mode_; }
    void drop_binary_replies();
    bool wait_binary_reply(ByteVector& out, std::chrono::milliseconds timeout);
    // As above, but also ends (false) once `cancel` is set and
    // wake_binary_waiters() is called; a reply already queued is still taken.
    bool wait_binary_reply(ByteVector& out, std::chrono::milliseconds timeout, const std::atomic<bool>& cancel);
    void wake_binary_waiters();
    // Writes `length` bytes in one write, without pause; false when not
    // connected or the write fails.
    bool write_bytes(const char* data, std::size_t length);

    // One chunk as the receive thread delivers it. The transport calls
    // receive_callback (user = the link); the fuzzers and tests call it
    // directly to feed chunks as if received.
    void on_receive(const char* data, std::size_t length);
    static void receive_callback(void* user, char* data, unsigned int length);
    // Routes the next parsed reply to the settings queue, as json_read does,
    // without sending anything.
    void expect_settings_reply() { reply_route_ = kRouteSettings; }

    // What waits, for tests.
    bool settings_reply_expected() const { return reply_route_ == kRouteSettings; }
    std::size_t replies_waiting() const { return general_replies_.size(); }
    std::size_t settings_waiting() const { return setting_replies_.size(); }
    std::size_t binary_replies_waiting() const { return raw_replies_.size(); }

private:
    static constexpr uint8_t kRouteGeneral = 0;
    static constexpr uint8_t kRouteSettings = 1;

    bool send(std::string bytes, uint8_t route, std::chrono::milliseconds pause);

    ErrorText& error_;
    std::shared_ptr<VELKOR::ExtInterface_TCP_client> tcp_;
    // Where the next parsed reply goes: set by the caller before a request,
    // back to general by the receive thread after routing one settings reply.
    std::atomic<uint8_t> reply_route_{kRouteGeneral};
    std::atomic<bool> json_mode_{true};
    VELKOR::BoundedQueue<nlohmann::json> general_replies_{3};
    VELKOR::BoundedQueue<nlohmann::json> setting_replies_{3};
    VELKOR::BoundedQueue<ByteVector> raw_replies_{3};
};

}  // namespace TQZ
