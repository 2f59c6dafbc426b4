#pragma once

#include <vector>

#include "processing/processing_chain.hpp"

// Saves the flags, parameters and second-echo buffers of the process-wide
// processing chain and puts them back when the test is done, so that tests
// which switch processing or load coefficients leave the defaults behind.
class chain_state_guard {
public:
    chain_state_guard();
    ~chain_state_guard();
    chain_state_guard(const chain_state_guard&) = delete;
    chain_state_guard& operator=(const chain_state_guard&) = delete;

private:
    struct module_state {
        bool enabled;
        std::vector<float> parameters;
    };
    std::vector<module_state> modules_;
    std::vector<std::vector<float>> second_echo_buffers_;
};

// True when two scenes carry the same bits in every field.
bool same_bits(const VELKOR::LidarTQ::scene_t& a, const VELKOR::LidarTQ::scene_t& b);
