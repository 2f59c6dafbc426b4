#pragma once

#include <memory>
#include <string>

#include "ext_interface_base.hpp"

namespace VELKOR {

class HandleLogPlayer;

// A recording file behind the transport interface. connect opens the file
// named in its LogFile for reading (building its frame index); the transport
// streams nothing: its receive thread ends at once and write sends nothing.
class ExtInterface_Logplayer : public ExtInterfaceBase {
public:
    class LogFile : public PortBase {
    public:
        LogFile(std::string name) : name(std::move(name)) {}
        std::string name;
    };

    ExtInterface_Logplayer();
    ~ExtInterface_Logplayer() override;

    // Always false; is_running tells whether the file opened.
    bool connect(PortBase& settings) override;
    void disconnect() override;
    // Always false: a recording takes no data.
    bool write(char* data, unsigned int length) override;

    bool is_running();
    void set_pos(unsigned int position);
    void start_streaming();
    void stop_streaming();

private:
    void receive_thread_process() override;

    std::unique_ptr<HandleLogPlayer> handler_;
};

}  // namespace VELKOR
