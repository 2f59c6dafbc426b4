#include "transport/ext_interface_logplayer.hpp"

#include <cstdio>

#include "recording/logger.hpp"

namespace VELKOR {

// The transport's connection state is a complete logger.
class HandleLogPlayer : public Logger {};

ExtInterface_Logplayer::ExtInterface_Logplayer() : handler_(std::make_unique<HandleLogPlayer>()) {}

ExtInterface_Logplayer::~ExtInterface_Logplayer()
{
    handler_->close();
    stop_thread();
    handler_.reset();
}

bool ExtInterface_Logplayer::connect(PortBase& settings)
{
    LOG_PROPS_T props;
    props.file_path = static_cast<LogFile&>(settings).name;
    props.read_mode = true;
    if (handler_->open(props)) {
        start_thread();
    }
    return false;
}

void ExtInterface_Logplayer::disconnect() { handler_->close(); }

bool ExtInterface_Logplayer::write(char*, unsigned int) { return false; }

bool ExtInterface_Logplayer::is_running() { return handler_->is_open(); }

void ExtInterface_Logplayer::set_pos(unsigned int) {}

void ExtInterface_Logplayer::start_streaming() {}

void ExtInterface_Logplayer::stop_streaming() {}

void ExtInterface_Logplayer::receive_thread_process()
{
    std::fputs("VELKOR::ExtInterface_Logplayer::receive_thread_process : Done.\n", stdout);
    std::fflush(stdout);
}

}  // namespace VELKOR
