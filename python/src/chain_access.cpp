#include "chain_access.hpp"

namespace velkor_python {

namespace {

std::mutex chain_mutex;

}  // namespace

// Setting the switches costs a few stores; setting them on every call keeps
// this right whether they belong to the process or to the handle.
ChainAccess::ChainAccess(VELKOR::LidarTQ& lidar, bool processing) : lock_(chain_mutex)
{
    lidar.set_signal_data_processing(processing);
}

}  // namespace velkor_python
