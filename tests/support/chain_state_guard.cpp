#include "chain_state_guard.hpp"

#include <cstring>

namespace {

std::vector<TQZ::data_processing*> modules_of(TQZ::processing_chain& chain)
{
    return {chain.global_offset.get(),      chain.offset_calibration.get(), chain.walk_error.get(),
            chain.adaptive_threshold.get(), chain.depth_completion.get(),   chain.back_beam_removal.get(),
            chain.gen_pointcloud.get()};
}

template <class T>
bool same_vector_bits(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

chain_state_guard::chain_state_guard()
{
    auto& chain = TQZ::shared_processing_chain();
    for (auto* m : modules_of(chain)) {
        modules_.push_back({m->enabled, m->parameters});
    }
    second_echo_buffers_ = chain.second_echo_buffers;
}

chain_state_guard::~chain_state_guard()
{
    auto& chain = TQZ::shared_processing_chain();
    auto modules = modules_of(chain);
    for (size_t i = 0; i < modules.size(); ++i) {
        modules[i]->enabled = modules_[i].enabled;
        modules[i]->parameters = modules_[i].parameters;
    }
    chain.second_echo_buffers = second_echo_buffers_;
}

bool same_bits(const VELKOR::LidarTQ::scene_t& a, const VELKOR::LidarTQ::scene_t& b)
{
    return a.rows == b.rows && a.cols == b.cols && same_vector_bits(a.ambient, b.ambient) &&
           same_vector_bits(a.depth, b.depth) && same_vector_bits(a.intensity, b.intensity) &&
           same_vector_bits(a.pointcloud, b.pointcloud);
}
