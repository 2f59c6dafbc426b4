#include "session/firmware_upload.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include <nlohmann/json.hpp>

#include "protocol/fw_protocol.hpp"
#include "session/command_link.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Pause between two data packets: the sensor takes them at this pace.
constexpr auto kPacketPause = milliseconds(20);
// Pause after the start frame, as after every command.
constexpr auto kCommandPause = milliseconds(1);

void print_line(const std::string& text) { VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << text; }

// An elapsed time strictly greater than the limit is a time-out.
bool timed_out(Clock::time_point since, std::chrono::seconds limit) { return Clock::now() - since > limit; }

// How long to wait for a reply so that the wait ends just past the time-out
// that began at `since`.
milliseconds wait_until_past(Clock::time_point since, std::chrono::seconds limit)
{
    const auto left = std::chrono::duration_cast<milliseconds>(since + limit - Clock::now()) + milliseconds(1);
    return std::max(milliseconds(0), left);
}

// Reads the acknowledgement member. Anything but a boolean counts as a
// refusal: the sensor has not said yes.
bool read_ack(const nlohmann::json& member)
{
    if (!member.is_boolean()) {
        VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "json type error";
        return false;
    }
    return member.get<bool>();
}

}  // namespace

FirmwareUpload::FirmwareUpload(CommandLink& link)
    : link_(link), frame_(std::make_unique<VELKOR::_TCP_PROTOCOL_T>())
{
    *frame_ = VELKOR::_TCP_PROTOCOL_T{};
}

FirmwareUpload::~FirmwareUpload() { end(); }

void FirmwareUpload::set_status_callback(VELKOR::fw_status_callback_t callback, void* user)
{
    callback_ = callback;
    callback_user_ = user;
}

void FirmwareUpload::status(const std::string& text)
{
    if (callback_ != nullptr) {
        callback_(callback_user_, text);
    }
}

void FirmwareUpload::end()
{
    cancel_ = true;
    // An upload thread waiting for a reply sees the cancel at once.
    link_.wake_binary_waiters();
    if (thread_ && thread_->joinable()) {
        thread_->join();
    }
    thread_.reset();
    cancel_ = false;
}

bool FirmwareUpload::start(const char* path)
{
    // The previous upload thread owns the file, the frame buffer and the
    // counters until it ends; wait for it before touching any of them.
    if (thread_) {
        if (thread_->joinable()) {
            thread_->join();
        }
        thread_.reset();
    }

    path_ = path != nullptr ? path : "";
    if (file_.is_open()) {
        file_.close();
    }
    file_.clear();
    if (path != nullptr) {
        file_.open(path_, std::ios::in | std::ios::binary);
    }
    if (!file_.is_open()) {
        print_line("FW_Upload_File_Open_Fail!");
        return false;
    }

    const nlohmann::json request = {{"system_mode", "firmware_upgrade"}};
    const Clock::time_point sent_at = Clock::now();
    if (!link_.send_json(request)) {
        // Nothing went out, so no answer can come: report the missing answer
        // now instead of waiting for it.
        status("FW_Upload_Json_Ack_Fail_Time_Out!");
        print_line("FW_Upload_Json_Ack_Fail_Time_Out!");
        return false;
    }
    print_line("FW_Upload_Json_Send!");

    // Replies without the answer's member are passed over; the time-out is
    // looked at first even when the answer just read is yes.
    for (;;) {
        nlohmann::json reply;
        bool acknowledged = false;
        if (link_.wait_reply(reply, wait_until_past(sent_at, reply_timeout_)) &&
            reply.is_object() && reply.contains("firmware_upgrade")) {
            acknowledged = read_ack(reply["firmware_upgrade"]);
            if (!acknowledged) {
                status("FW_Upload_Json_Ack_Fail!");
                print_line("FW_Upload_Json_Ack_Fail!");
                return false;
            }
        }
        if (timed_out(sent_at, reply_timeout_)) {
            status("FW_Upload_Json_Ack_Fail_Time_Out!");
            print_line("FW_Upload_Json_Ack_Fail_Time_Out!");
            return false;
        }
        if (acknowledged) {
            break;
        }
    }

    // From here on the link carries binary frames; JSON parsing stays off for
    // the rest of the session.
    link_.switch_to_binary();

    file_.seekg(0, std::ios::end);
    const std::streamoff size = file_.tellg();
    file_.seekg(0, std::ios::beg);
    if (size < 0 || !fw_size_acceptable(size)) {
        print_line("FW_Upload_Fail_Data_Size!");
        return false;
    }
    bytes_left_ = size;
    packets_left_ = static_cast<uint16_t>(fw_packet_count(size));

    // Built before the thread starts and sent from a copy: once the sensor
    // acknowledges, the thread fills the same buffer with data packets.
    const std::size_t start_bytes = fw_build_start_frame(*frame_, packets_left_);
    std::array<char, kFrameHeaderBytes + kFwPrefixBytes> start_frame{};
    std::memcpy(start_frame.data(), frame_.get(), start_bytes);
    // Anything queued so far cannot answer a start frame not yet sent.
    link_.drop_binary_replies();

    thread_ = std::make_unique<std::thread>(&FirmwareUpload::thread_body, this);

    const bool written = link_.write_bytes(start_frame.data(), start_bytes);
    if (written) {
        std::this_thread::sleep_for(kCommandPause);
    }
    return written;
}

void FirmwareUpload::thread_body()
{
    print_line("TQZ::fw_upload_thread_process : Start.");
    if (wait_start_ack()) {
        transfer();
    }
    file_.close();
    status("[Firmware] TQZ::fw_upload_thread_process : Done.");
    print_line("TQZ::fw_upload_thread_process : Done.");
}

// The latest reply decides: an acknowledgement followed by anything else
// does not count.
bool FirmwareUpload::wait_start_ack()
{
    const Clock::time_point started = Clock::now();
    bool acknowledged = false;
    for (;;) {
        ByteVector raw;
        if (link_.wait_binary_reply(raw, wait_until_past(started, reply_timeout_), cancel_)) {
            acknowledged = fw_is_ack(parse_fw_reply(raw.data(), raw.size()));
        }
        if (timed_out(started, reply_timeout_)) {
            print_line("FW_Upload_Ack_Fail_Time_Out!");
            return false;
        }
        if (cancel_) {
            return false;  // nothing more is sent
        }
        if (acknowledged) {
            return true;
        }
    }
}

// One round per data packet: handle the reply that came since the last
// round, send the next packet, then wait out the pause between packets. A
// reply that ends the upload still lets its round send one more packet.
void FirmwareUpload::transfer()
{
    Clock::time_point last_reply = Clock::now();
    std::string accumulator;
    bool ended = false;
    ByteVector raw;
    bool have_reply = false;
    for (;;) {
        if (!have_reply) {
            have_reply = link_.wait_binary_reply(raw, milliseconds(0));
        }
        if (have_reply) {
            const FwReplyOutcome outcome = interpret_fw_reply(parse_fw_reply(raw.data(), raw.size()), accumulator);
            for (const std::string& text : outcome.status) {
                status(text);
            }
            for (const std::string& line : outcome.printed) {
                print_line(line);
            }
            ended = outcome.ended;
            last_reply = Clock::now();
            have_reply = false;
        }
        if (!file_.is_open()) {
            print_line("FW_Upload_Fail_File_Not_Opened!");
            break;
        }
        if (packets_left_ > 0) {
            const int64_t n = bytes_left_ > static_cast<int64_t>(kFwPacketBytes) ? kFwPacketBytes : bytes_left_;
            auto* data = reinterpret_cast<char*>(frame_->payload + kFwPrefixBytes);
            if (n <= 0 || !file_.read(data, n) || file_.gcount() != n) {
                print_line("FW_Upload_Fail_Data_Read!");
                break;
            }
            bytes_left_ -= n;
            --packets_left_;
            fw_write_prefix(*frame_, packets_left_);
            fw_set_header(*frame_, static_cast<uint16_t>(n + kFwPrefixBytes), 'F', 'U');
            // A lost packet shows in the sensor's progress reports.
            (void)link_.write_bytes(reinterpret_cast<const char*>(frame_.get()),
                                    static_cast<std::size_t>(n + kFwPrefixBytes + kFrameHeaderBytes));
        }
        // The pause between packets doubles as the wait for the next reply;
        // a reply that ends it early does not shorten the pace of packets.
        const Clock::time_point round_end = Clock::now() + kPacketPause;
        have_reply = link_.wait_binary_reply(raw, kPacketPause, cancel_);
        if (have_reply && packets_left_ > 0) {
            std::this_thread::sleep_until(round_end);
        }
        if (timed_out(last_reply, reply_timeout_)) {
            print_line("FW_Upload_Fail_Time_Out!");
            break;
        }
        if (ended || cancel_) {
            break;
        }
    }
}

}  // namespace TQZ
