#include <array>
#include <chrono>
#include <cstring>
#include <iostream>

#include "protocol/fw_protocol.hpp"
#include "session/device_session.hpp"
#include "transport/ext_interface_tcp_client.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

using Clock = std::chrono::steady_clock;

// Short pause per poll of a reply queue, so a wait never spins a core.
constexpr auto kPollPause = std::chrono::milliseconds(1);
constexpr auto kPacketPause = std::chrono::milliseconds(20);

void print_line(const std::string& text) { VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << text; }

// An elapsed time strictly greater than the limit is a time-out.
bool timed_out(Clock::time_point since, int64_t limit_s)
{
    return Clock::now() - since > std::chrono::seconds(limit_s);
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

void DeviceSession::register_fw_status_callback(VELKOR::fw_status_callback_t callback, void* user)
{
    fw_status_callback = callback;
    fw_status_user = user;
}

void DeviceSession::fw_status(const std::string& text)
{
    if (fw_status_callback != nullptr) {
        fw_status_callback(fw_status_user, text);
    }
}

void DeviceSession::end_upload()
{
    fw_cancel = true;
    if (upload_thread && upload_thread->joinable()) {
        upload_thread->join();
    }
    upload_thread.reset();
    fw_cancel = false;
}

bool DeviceSession::tcp_fw_upload(const char* path)
{
    // The previous upload thread owns the file, the frame buffer and the
    // counters until it ends; wait for it before touching any of them.
    if (upload_thread) {
        if (upload_thread->joinable()) {
            upload_thread->join();
        }
        upload_thread.reset();
    }

    reply_route = 0;
    fw_path = path != nullptr ? path : "";
    if (fw_file.is_open()) {
        fw_file.close();
    }
    fw_file.clear();
    if (path != nullptr) {
        fw_file.open(fw_path, std::ios::in | std::ios::binary);
    }
    if (!fw_file.is_open()) {
        print_line("FW_Upload_File_Open_Fail!");
        return false;
    }

    nlohmann::json request = {{"system_mode", "firmware_upgrade"}};
    const Clock::time_point sent_at = Clock::now();
    if (!send_json(request)) {
        // Nothing went out, so no answer can come: report the missing answer
        // now instead of waiting for it.
        fw_status("FW_Upload_Json_Ack_Fail_Time_Out!");
        print_line("FW_Upload_Json_Ack_Fail_Time_Out!");
        return false;
    }
    print_line("FW_Upload_Json_Send!");

    for (;;) {
        nlohmann::json reply;
        bool acknowledged = false;
        if (general_replies.pop(reply) && reply.is_object() && reply.contains("firmware_upgrade")) {
            acknowledged = read_ack(reply["firmware_upgrade"]);
            if (!acknowledged) {
                fw_status("FW_Upload_Json_Ack_Fail!");
                print_line("FW_Upload_Json_Ack_Fail!");
                return false;
            }
        }
        if (timed_out(sent_at, reply_timeout_s)) {
            fw_status("FW_Upload_Json_Ack_Fail_Time_Out!");
            print_line("FW_Upload_Json_Ack_Fail_Time_Out!");
            return false;
        }
        if (acknowledged) {
            break;
        }
        std::this_thread::sleep_for(kPollPause);
    }

    // From here on the link carries binary frames; JSON parsing stays off for
    // the rest of the session.
    json_mode = false;

    fw_file.seekg(0, std::ios::end);
    const std::streamoff size = fw_file.tellg();
    fw_file.seekg(0, std::ios::beg);
    if (size < 0 || !fw_size_acceptable(size)) {
        print_line("FW_Upload_Fail_Data_Size!");
        return false;
    }
    fw_bytes_left = size;
    fw_packets_left = static_cast<uint16_t>(fw_packet_count(size));

    // Built before the thread starts and sent from a copy: once the sensor
    // acknowledges, the thread fills the same buffer with data packets.
    const std::size_t start_bytes = fw_build_start_frame(*command_frame, fw_packets_left);
    std::array<char, kFrameHeaderBytes + kFwPrefixBytes> start_frame{};
    std::memcpy(start_frame.data(), command_frame.get(), start_bytes);
    // Anything queued so far cannot answer a start frame not yet sent.
    raw_replies.clear();

    upload_thread = std::make_unique<std::thread>(&DeviceSession::fw_upload_thread_process, this);

    if (!tcp || !tcp->is_connected()) {
        return false;
    }
    const bool written = tcp->write(start_frame.data(), static_cast<unsigned int>(start_bytes));
    if (written) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return written;
}

void DeviceSession::fw_upload_thread_process()
{
    print_line("TQZ::fw_upload_thread_process : Start.");
    const Clock::time_point started = Clock::now();

    bool acknowledged = false;
    bool ack_timed_out = false;
    for (;;) {
        ByteVector raw;
        if (raw_replies.pop(raw)) {
            acknowledged = fw_is_ack(parse_fw_reply(raw.data(), raw.size()));
        }
        if (timed_out(started, reply_timeout_s)) {
            print_line("FW_Upload_Ack_Fail_Time_Out!");
            ack_timed_out = true;
            break;
        }
        if (fw_cancel) {
            ack_timed_out = true;  // nothing more is sent
            break;
        }
        if (acknowledged) {
            break;
        }
        std::this_thread::sleep_for(kPollPause);
    }

    if (!ack_timed_out) {
        Clock::time_point last_reply = Clock::now();
        std::string accumulator;
        bool ended = false;
        for (;;) {
            ByteVector raw;
            if (raw_replies.pop(raw)) {
                const FwReplyOutcome outcome =
                    interpret_fw_reply(parse_fw_reply(raw.data(), raw.size()), accumulator);
                for (const std::string& text : outcome.status) {
                    fw_status(text);
                }
                for (const std::string& line : outcome.printed) {
                    print_line(line);
                }
                ended = outcome.ended;
                last_reply = Clock::now();
            }
            if (!fw_file.is_open()) {
                print_line("FW_Upload_Fail_File_Not_Opened!");
                break;
            }
            if (fw_packets_left > 0) {
                const int64_t n =
                    fw_bytes_left > static_cast<int64_t>(kFwPacketBytes) ? kFwPacketBytes : fw_bytes_left;
                auto* data = reinterpret_cast<char*>(command_frame->payload + kFwPrefixBytes);
                if (n <= 0 || !fw_file.read(data, n) || fw_file.gcount() != n) {
                    print_line("FW_Upload_Fail_Data_Read!");
                    break;
                }
                fw_bytes_left -= n;
                --fw_packets_left;
                fw_write_prefix(*command_frame, fw_packets_left);
                fw_set_header(*command_frame, static_cast<uint16_t>(n + kFwPrefixBytes), 'F', 'U');
                if (tcp && tcp->is_connected()) {
                    // A lost packet shows in the sensor's progress reports.
                    (void)tcp->write(reinterpret_cast<char*>(command_frame.get()),
                                     static_cast<unsigned int>(n + kFwPrefixBytes + kFrameHeaderBytes));
                }
            }
            std::this_thread::sleep_for(kPacketPause);
            if (timed_out(last_reply, reply_timeout_s)) {
                print_line("FW_Upload_Fail_Time_Out!");
                break;
            }
            if (ended || fw_cancel) {
                break;
            }
        }
    }

    fw_file.close();
    fw_status("[Firmware] TQZ::fw_upload_thread_process : Done.");
    print_line("TQZ::fw_upload_thread_process : Done.");
}

}  // namespace TQZ
