#include "sim_firmware.hpp"

#include <algorithm>
#include <cstring>

namespace VELKOR {
namespace SIM {

namespace {

constexpr std::size_t kHeader = 4;
constexpr std::size_t kPrefix = 8;
constexpr std::size_t kPacket = 1428;

// Reads the four decimal digits after "FWUP"; -1 when they are not that.
int read_count(const uint8_t* payload)
{
    if (std::memcmp(payload, "FWUP", 4) != 0) {
        return -1;
    }
    int count = 0;
    for (int i = 4; i < 8; ++i) {
        if (payload[i] < '0' || payload[i] > '9') {
            return -1;
        }
        count = count * 10 + (payload[i] - '0');
    }
    return count;
}

}  // namespace

SimFirmware::SimFirmware() : SimFirmware(Options{}) {}

SimFirmware::SimFirmware(Options options) : options_(std::move(options)) {}

std::string SimFirmware::json_answer() const
{
    switch (options_.fault) {
    case Fault::json_refuse:
        return R"({"firmware_upgrade":false})";
    case Fault::json_silent:
        return "";
    case Fault::json_not_boolean:
        return R"({"firmware_upgrade":"yes"})";
    default:
        return R"({"firmware_upgrade":true})";
    }
}

std::vector<uint8_t> SimFirmware::make_frame(uint8_t main_command, uint8_t sub_command,
                                             const std::string& text)
{
    const std::size_t length = text.size();
    std::vector<uint8_t> frame(kHeader + length);
    frame[0] = static_cast<uint8_t>(length & 0xFF);
    frame[1] = static_cast<uint8_t>(length >> 8);
    frame[2] = main_command;
    frame[3] = sub_command;
    std::copy(text.begin(), text.end(), frame.begin() + kHeader);
    return frame;
}

std::vector<SimFirmware::Reply> SimFirmware::receive(const uint8_t* data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Reply> replies;
    if (data != nullptr) {
        pending_.insert(pending_.end(), data, data + length);
    }
    std::size_t offset = 0;
    while (pending_.size() - offset >= kHeader) {
        const uint8_t* frame = pending_.data() + offset;
        const std::size_t size = kHeader + (frame[0] | (frame[1] << 8));
        if (pending_.size() - offset < size) {
            break;
        }
        take_frame(frame, size, replies);
        offset += size;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    return replies;
}

void SimFirmware::take_frame(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies)
{
    frame_sizes_.push_back(size);
    if (state_ == State::programmed || state_ == State::failed) {
        return;
    }
    if (frame[2] != 'F' || frame[3] != 'U' || size < kHeader + kPrefix || read_count(frame + kHeader) < 0) {
        reject("not an upload frame", replies);
        return;
    }
    if (state_ == State::waiting_start) {
        take_start(frame, size, replies);
    } else {
        take_data(frame, size, replies);
    }
}

void SimFirmware::take_start(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies)
{
    if (size != kHeader + kPrefix || read_count(frame + kHeader) == 0) {
        reject("bad start frame", replies);
        return;
    }
    announced_ = read_count(frame + kHeader);
    state_ = State::receiving;
    if (options_.fault != Fault::no_ack) {
        replies.push_back({make_frame('F', 'A', ""), false});
    }
}

void SimFirmware::take_data(const uint8_t* frame, std::size_t size, std::vector<Reply>& replies)
{
    const int still_to_come = read_count(frame + kHeader);
    const std::size_t n = size - kHeader - kPrefix;
    image_.insert(image_.end(), frame + kHeader + kPrefix, frame + size);
    ++received_;

    if (received_ > announced_ || still_to_come != announced_ - received_) {
        reject("packet count differs from the announcement", replies);
        return;
    }
    if (n == 0 || n > kPacket || (still_to_come > 0 && n != kPacket)) {
        reject("packet of " + std::to_string(n) + " bytes", replies);
        return;
    }

    const bool first = received_ == 1;
    switch (options_.fault) {
    case Fault::no_ack:
    case Fault::silent_mid_transfer:
        return;
    case Fault::refuse:
        if (first) {
            reject("refused", replies);
            return;
        }
        break;
    case Fault::wrong_main:
        if (first) {
            replies.push_back({make_frame('G', 'R', "10"), false});
            return;
        }
        break;
    case Fault::wrong_sub:
        if (first) {
            replies.push_back({make_frame('F', 'Q', ""), false});
            return;
        }
        break;
    case Fault::bad_progress:
        if (first) {
            replies.push_back({make_frame('F', 'R', "abc"), false});
            return;
        }
        break;
    default:
        break;
    }

    const int percent = received_ * 100 / announced_;
    replies.push_back({make_frame('F', 'R', std::to_string(percent)), false});
    if (still_to_come == 0) {
        state_ = State::programmed;
        for (const std::string& text : options_.programming_texts) {
            replies.push_back({make_frame('F', 'P', text), true});
        }
    }
}

void SimFirmware::reject(const std::string& why, std::vector<Reply>& replies)
{
    state_ = State::failed;
    failure_ = why;
    replies.push_back({make_frame('F', 'X', ""), false});
}

SimFirmware::State SimFirmware::state() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

int SimFirmware::announced_packets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return announced_;
}

int SimFirmware::packets_received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<uint8_t> SimFirmware::image() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return image_;
}

std::vector<std::size_t> SimFirmware::frame_sizes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frame_sizes_;
}

std::string SimFirmware::failure() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

}  // namespace SIM
}  // namespace VELKOR
