#pragma once

#include <memory>

#include "sim_firmware.hpp"
#include "sim_sensor.hpp"

namespace VELKOR {
namespace SIM {

// Plugs SimFirmware into the simulated sensor: answers the firmware-upgrade
// request and takes over the command connection's bytes from then on. Every
// reply goes out as its own send, programming reports after a pause, so the
// host sees one reply per chunk.
class SimFirmwareHandler : public RawHandler {
public:
    explicit SimFirmwareHandler(std::shared_ptr<SimFirmware> firmware);

    std::string json_answer() override;
    void on_bytes(SimLink& link, const uint8_t* data, std::size_t length) override;

private:
    std::shared_ptr<SimFirmware> firmware_;
};

// A fresh firmware side with `options` for every upgrade request.
RawHandlerFactory firmware_handler_factory(SimFirmware::Options options = {});

// Every upgrade request goes to `firmware`, so a test can look at what it
// received afterwards.
RawHandlerFactory firmware_handler_factory(std::shared_ptr<SimFirmware> firmware);

}  // namespace SIM
}  // namespace VELKOR
