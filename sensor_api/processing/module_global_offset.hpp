#pragma once

#include "processing/data_processing.hpp"

namespace TQZ {

// Subtracts one delay common to every pixel. parameters[0] is the offset in
// mm of distance (default 4935), converted to round-trip ns.
class module_global_offset : public data_processing {
public:
    module_global_offset();
    bool process(scene_t& scene) override;
};

}  // namespace TQZ
