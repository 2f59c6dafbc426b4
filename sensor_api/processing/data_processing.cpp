#include "processing/data_processing.hpp"

namespace TQZ {

void data_processing::set_parameters(const std::vector<float>& values)
{
    if (&values != &parameters) {
        parameters = values;
    }
}

}  // namespace TQZ
