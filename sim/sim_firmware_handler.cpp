#include "sim_firmware_handler.hpp"

#include <thread>

namespace VELKOR {
namespace SIM {

SimFirmwareHandler::SimFirmwareHandler(std::shared_ptr<SimFirmware> firmware) : firmware_(std::move(firmware))
{
}

std::string SimFirmwareHandler::json_answer() { return firmware_->json_answer(); }

void SimFirmwareHandler::on_bytes(SimLink& link, const uint8_t* data, std::size_t length)
{
    for (const SimFirmware::Reply& reply : firmware_->receive(data, length)) {
        if (reply.spaced) {
            std::this_thread::sleep_for(firmware_->options().reply_spacing);
        }
        if (!link.send(reply.bytes.data(), reply.bytes.size())) {
            return;
        }
    }
}

RawHandlerFactory firmware_handler_factory(SimFirmware::Options options)
{
    return [options]() -> std::unique_ptr<RawHandler> {
        return std::make_unique<SimFirmwareHandler>(std::make_shared<SimFirmware>(options));
    };
}

RawHandlerFactory firmware_handler_factory(std::shared_ptr<SimFirmware> firmware)
{
    return [firmware]() -> std::unique_ptr<RawHandler> { return std::make_unique<SimFirmwareHandler>(firmware); };
}

}  // namespace SIM
}  // namespace VELKOR
