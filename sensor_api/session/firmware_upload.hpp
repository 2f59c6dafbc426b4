#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "api/lidar_tq.hpp"
#include "protocol/tcp_protocol.hpp"

namespace TQZ {

class CommandLink;

// A firmware upload over the command link: the JSON request and its answer
// (caller's thread), then the start frame and the image in data packets on an
// upload thread that relays the sensor's progress to the status callback.
//
// Threads: the caller's thread starts and ends uploads and sets the
// callback; the upload thread owns the image file, the frame buffer and the
// counters while it runs.
class FirmwareUpload {
public:
    explicit FirmwareUpload(CommandLink& link);
    // Ends a running upload first: it must not outlive the link it writes on.
    ~FirmwareUpload();

    FirmwareUpload(const FirmwareUpload&) = delete;
    FirmwareUpload& operator=(const FirmwareUpload&) = delete;

    // Waits for a previous upload thread to end, asks the sensor for an
    // upgrade and, once it agrees, starts the upload thread and sends the
    // start frame. False when the image cannot be opened or has no
    // acceptable size, the sensor refuses or does not answer in time, or the
    // start frame cannot be sent.
    bool start(const char* path);
    // Tells a running upload thread to stop at its next step and joins it.
    void end();
    bool thread_started() const { return thread_ != nullptr; }

    // Set while no upload runs.
    void set_status_callback(VELKOR::fw_status_callback_t callback, void* user);
    // Limit for the sensor's answers (10 s unless a test shortens it).
    void set_reply_timeout(std::chrono::seconds timeout) { reply_timeout_ = timeout; }

private:
    void thread_body();
    // Waits for the sensor's acknowledgement of the start frame; false on
    // time-out or cancel.
    bool wait_start_ack();
    // Sends the data packets at their pace and relays the sensor's reports.
    void transfer();
    void status(const std::string& text);

    CommandLink& link_;
    std::unique_ptr<VELKOR::_TCP_PROTOCOL_T> frame_;
    std::ifstream file_;
    std::string path_;
    int64_t bytes_left_ = 0;
    uint16_t packets_left_ = 0;
    std::unique_ptr<std::thread> thread_;
    // Tells a running upload thread to end at its next step (end sets it:
    // the thread must not use a link being closed).
    std::atomic<bool> cancel_{false};
    std::chrono::seconds reply_timeout_{10};

    VELKOR::fw_status_callback_t callback_ = nullptr;
    void* callback_user_ = nullptr;
};

}  // namespace TQZ
