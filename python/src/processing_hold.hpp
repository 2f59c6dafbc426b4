#pragma once

#include "api/lidar_tq.hpp"

namespace velkor_python {

// Each session processes its scenes with a chain of its own, but the switch
// between processed and raw scenes is one per process, while every Python
// reader and sensor link asks for one or the other by itself. A
// ProcessingHold keeps the switch at its holder's value while the holder
// takes a scene: holders that want the same value go on together, one that
// wants the other value waits until they are done (and holds back newcomers
// of the first value, so that it is not starved). Take it with the GIL
// released (it may wait).
class ProcessingHold {
public:
    ProcessingHold(VELKOR::LidarTQ& lidar, bool processing);
    ~ProcessingHold();
    ProcessingHold(const ProcessingHold&) = delete;
    ProcessingHold& operator=(const ProcessingHold&) = delete;
};

}  // namespace velkor_python
