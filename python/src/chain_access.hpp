#pragma once

#include <mutex>

#include "api/lidar_tq.hpp"

namespace velkor_python {

// The processing chain and its switches are one per process and take no lock,
// while Python threads may read several recordings and sensors at once with
// different processing settings. Every call that runs the chain holds a
// ChainAccess: one caller at a time, with the switches set as it asked.
// Take it with the GIL released (it may wait for another caller).
class ChainAccess {
public:
    ChainAccess(VELKOR::LidarTQ& lidar, bool processing);
    ChainAccess(const ChainAccess&) = delete;
    ChainAccess& operator=(const ChainAccess&) = delete;

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace velkor_python
