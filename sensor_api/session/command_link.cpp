#include "session/command_link.hpp"

#include <thread>

#include "protocol/json_error_report.hpp"

namespace TQZ {

namespace {

// Pauses after a successful write, as the sensor needs them to take a command.
constexpr auto kShortPause = std::chrono::milliseconds(1);
constexpr auto kSettingsPause = std::chrono::milliseconds(100);

}  // namespace

CommandLink::CommandLink(ErrorText& error)
    : error_(error), tcp_(std::make_shared<VELKOR::ExtInterface_TCP_client>())
{
}

CommandLink::~CommandLink() { tcp_->disconnect(); }

bool CommandLink::connect(VELKOR::ExtInterface_TCP_client::IpSettings& settings)
{
    tcp_->registRecvCallback(&CommandLink::receive_callback, this);
    if (!tcp_->connect(settings)) {
        error_.set(tcp_->connect_error());
        return false;
    }
    return true;
}

void CommandLink::disconnect() { tcp_->disconnect(); }

bool CommandLink::connected() { return tcp_->is_connected(); }

// Sets the reply route, then writes `bytes` in one transport write and pauses
// after a successful one. Nothing is written while the link is down.
bool CommandLink::send(std::string bytes, uint8_t route, std::chrono::milliseconds pause)
{
    reply_route_ = route;
    if (!tcp_->is_connected()) {
        error_.set("not connected");
        return false;
    }
    const bool ok = tcp_->write(bytes.data(), static_cast<unsigned int>(bytes.size()));
    if (!ok) {
        error_.set("write failed: the link to the sensor is gone");
        return false;
    }
    std::this_thread::sleep_for(pause);
    return true;
}

bool CommandLink::run() { return send("{\"command\":\"run\"}", kRouteGeneral, kShortPause); }

bool CommandLink::stop() { return send("{\"command\":\"stop\"}", kRouteGeneral, kShortPause); }

bool CommandLink::request_settings()
{
    return send("{\"command\":\"json_read\"}", kRouteSettings, kShortPause);
}

bool CommandLink::save_settings() { return send("{\"command\":\"json_save\"}", kRouteGeneral, kSettingsPause); }

bool CommandLink::send_json(const nlohmann::json& message)
{
    std::string text;
    if (!dump_compact(message, text)) {
        return false;
    }
    return send(std::move(text), kRouteGeneral, kSettingsPause);
}

bool CommandLink::take_setting(nlohmann::json& out)
{
    out = nullptr;
    return setting_replies_.pop(out);
}

bool CommandLink::wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout)
{
    return setting_replies_.pop_for(out, timeout);
}

bool CommandLink::wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout)
{
    return general_replies_.pop_for(out, timeout);
}

bool CommandLink::wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout,
                               const std::atomic<bool>& give_up)
{
    return setting_replies_.pop_for(out, timeout, [&give_up] { return give_up.load(); });
}

bool CommandLink::wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout,
                             const std::atomic<bool>& give_up)
{
    return general_replies_.pop_for(out, timeout, [&give_up] { return give_up.load(); });
}

void CommandLink::interrupt()
{
    tcp_->interrupt_connect();
    setting_replies_.wake();
    general_replies_.wake();
}

void CommandLink::switch_to_binary() { json_mode_ = false; }

void CommandLink::drop_binary_replies() { raw_replies_.clear(); }

bool CommandLink::wait_binary_reply(ByteVector& out, std::chrono::milliseconds timeout)
{
    return raw_replies_.pop_for(out, timeout);
}

bool CommandLink::wait_binary_reply(ByteVector& out, std::chrono::milliseconds timeout,
                                    const std::atomic<bool>& cancel)
{
    return raw_replies_.pop_for(out, timeout, [&cancel] { return cancel.load(); });
}

void CommandLink::wake_binary_waiters() { raw_replies_.wake(); }

bool CommandLink::write_bytes(const char* data, std::size_t length)
{
    if (!tcp_->is_connected()) {
        return false;
    }
    return tcp_->write(const_cast<char*>(data), static_cast<unsigned int>(length));
}

// TCP receive thread: one chunk is one reply.
void CommandLink::on_receive(const char* data, std::size_t length)
{
    if (!json_mode_) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        raw_replies_.push(ByteVector(bytes, bytes + length));
        return;
    }
    try {
        nlohmann::json reply = nlohmann::json::parse(data, data + length);
        // The route goes back to general before the reply is queued: the
        // caller, woken by the push, may send its next settings request at
        // once, and that request's route must not be undone here afterwards.
        uint8_t route = kRouteSettings;
        if (reply_route_.compare_exchange_strong(route, kRouteGeneral)) {
            setting_replies_.push(std::move(reply));
        } else {
            general_replies_.push(std::move(reply));
        }
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
    }
}

void CommandLink::receive_callback(void* user, char* data, unsigned int length)
{
    static_cast<CommandLink*>(user)->on_receive(data, length);
}

}  // namespace TQZ
