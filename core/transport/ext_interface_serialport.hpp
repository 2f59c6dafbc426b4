#pragma once

#include <memory>
#include <string>

#include "ext_interface_base.hpp"

namespace VELKOR {

class HandleSerialPort;

// Transport over a serial line (8 data bits, no parity, one stop bit, no flow
// control). Each received chunk of at most buffer_size bytes goes to the
// receive callback on the transport's own receive thread.
class ExtInterface_Serialport : public ExtInterfaceBase {
public:
    class PortSettings : public PortBase {
    public:
        PortSettings(std::string port_name = std::string(), int baudrate = 115200, int reserved = 0)
            : name(std::move(port_name)), baudrate(baudrate), reserved(reserved)
        {
        }

        // A device name such as ttyUSB0, or a full path beginning with "/".
        std::string name;
        int baudrate;
        int reserved; // carried with the settings; nothing reads it
    };

    // buffer_size: the most bytes one callback delivers (1: one per byte).
    explicit ExtInterface_Serialport(unsigned int buffer_size = 1);
    ~ExtInterface_Serialport() override;

    // settings must be a PortSettings. A name without a leading "/" is
    // rewritten in place to "/dev/" + name before the port is opened.
    bool connect(PortBase& settings) override;
    void disconnect() override;
    // Blocking write of all bytes, each chunk traced as a hex dump.
    bool write(char* data, unsigned int length) override;

    // The settings of the last connect; null before the first one.
    PortSettings* get_port_status() const;
    bool is_running() const;
    bool is_connected() const;

private:
    void receive_thread_process() override;

    std::unique_ptr<HandleSerialPort> handler_;
};

} // namespace VELKOR
