#pragma once

// Pieces of the _velkor extension module, each binding one Python class.

#include <stdexcept>
#include <string>

#include <pybind11/pybind11.h>

#include "api/lidar_tq.hpp"

namespace velkor_python {

// Raised in Python as velkor.Error (a RuntimeError) with the library's reason.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why the last call on `lidar` failed, or `fallback` when the library gave no
// reason.
std::string reason(const VELKOR::LidarTQ& lidar, const std::string& fallback);

void bind_scene(pybind11::module_& m);
void bind_recording(pybind11::module_& m);
void bind_sensor(pybind11::module_& m);
void bind_simulator(pybind11::module_& m);

}  // namespace velkor_python
