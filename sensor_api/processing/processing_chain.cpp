#include "processing/processing_chain.hpp"

// Placeholder until the processing modules land: the chain is a pass-through.
namespace TQZ {

void run_processing_chain(VELKOR::LidarTQ::scene_t&) {}
void set_signal_data_processing(bool) {}
bool load_walk_error_parameters(const nlohmann::json&) { return true; }

}  // namespace TQZ
