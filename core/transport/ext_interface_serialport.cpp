#include "transport/ext_interface_serialport.hpp"

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "transport/handler_base.hpp"
#include "util/utility.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

// Connection state of one serial transport: the port and a shared copy of
// the settings of the last connect, beside the common handler state.
class HandleSerialPort : public HandlerBase {
public:
    explicit HandleSerialPort(unsigned int capacity) : HandlerBase(capacity == 0 ? 1 : capacity), port(io) {}

    asio::serial_port port;
    std::shared_ptr<ExtInterface_Serialport::PortSettings> settings;
};

ExtInterface_Serialport::ExtInterface_Serialport(unsigned int buffer_size)
    : handler_(std::make_unique<HandleSerialPort>(buffer_size))
{
}

ExtInterface_Serialport::~ExtInterface_Serialport()
{
    disconnect();
}

bool ExtInterface_Serialport::connect(PortBase& settings)
{
    auto& port_settings = static_cast<PortSettings&>(settings);
    bool opened_here = false;
    try {
        // Device paths on Linux live under /dev, as "\\.\" prefixes them on Windows.
        if (port_settings.name.empty() || port_settings.name[0] != '/') {
            port_settings.name = "/dev/" + port_settings.name;
        }
        handler_->settings = std::make_shared<PortSettings>(port_settings);

        asio::serial_port& port = handler_->port;
        port.open(port_settings.name);
        opened_here = true;
        port.set_option(asio::serial_port_base::baud_rate(static_cast<unsigned int>(port_settings.baudrate)));
        port.set_option(asio::serial_port_base::character_size(8));
        port.set_option(asio::serial_port_base::parity(asio::serial_port_base::parity::none));
        port.set_option(asio::serial_port_base::stop_bits(asio::serial_port_base::stop_bits::one));
        port.set_option(asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none));

        if (port.is_open()) {
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "Serial port :: port.name(" << port_settings.name << "), port.baudrate("
                      << port_settings.baudrate << ")";
            handler_->running = true;
            start_thread();
            return true;
        }
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Serial port connection error :: " << e.what();
        // A port that opened but refused an option is not left open: the next
        // connect would fail on it.
        if (opened_here && !handler_->running) {
            std::error_code ignored;
            handler_->port.close(ignored);
        }
    }
    return false;
}

void ExtInterface_Serialport::disconnect()
{
    try {
        // The port is closed on the receive thread, which owns it while it runs
        // the I/O context.
        stop_receive_loop(*handler_, handler_->port, [this] { stop_thread(); });
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << e.what();
    }
}

bool ExtInterface_Serialport::write(char* data, unsigned int length)
{
    unsigned int sent = 0;
    try {
        while (true) {
            std::error_code error;
            const std::size_t n = handler_->port.write_some(asio::buffer(data + sent, length - sent), error);
            if (error) {
                VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Serial port write error :: " << error.message() << ", len(" << sent << ")";
                return false;
            }
            UTILITY::print_hex(data + sent, static_cast<unsigned int>(n), "Sent serial data", 32);
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "VELKOR::ExtInterface_Serialport::write"
                      << " : total_bytes_sent(" << n << ")";
            sent += static_cast<unsigned int>(n);
            if (sent >= length) {
                return true;
            }
            if (!handler_->port.is_open()) {
                return false;
            }
        }
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Serial port write error :: " << e.what();
    }
    return false;
}

ExtInterface_Serialport::PortSettings* ExtInterface_Serialport::get_port_status() const
{
    return handler_->settings.get();
}

bool ExtInterface_Serialport::is_running() const
{
    return handler_->running;
}

bool ExtInterface_Serialport::is_connected() const
{
    return handler_->port.is_open();
}

void ExtInterface_Serialport::receive_thread_process()
{
    HandleSerialPort& h = *handler_;
    bool failed = false;
    const auto on_read = [this, &h, &failed](const std::error_code& error, std::size_t count) {
        if (error) {
            failed = true;
        } else if (count > 0) {
            received(h.buffer.get(), static_cast<unsigned int>(count));
        }
    };
    try {
        h.io.restart();
        while (h.running) {
            failed = false;
            h.port.async_read_some(h.buffer_view, on_read);
            h.io.run();
            h.io.restart();
            if (failed && h.running) {
                receive_error_backoff();
            }
        }
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << e.what();
    }
    VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "VELKOR::ExtInterface_Serialport::receive_thread_process"
              << " :: Done.";
}

} // namespace VELKOR
