// The compiled half of the velkor package; velkor/__init__.py builds the
// Python API on it.

#include "bindings.hpp"

namespace py = pybind11;

namespace velkor_python {

std::string reason(const VELKOR::LidarTQ& lidar, const std::string& fallback)
{
    const std::string text = lidar.last_error();
    return text.empty() ? fallback : fallback + ": " + text;
}

}  // namespace velkor_python

PYBIND11_MODULE(_velkor, m)
{
    m.doc() = "Bindings of the TQ-Z sensor libraries; use the velkor package.";
    py::register_exception<velkor_python::Error>(m, "Error", PyExc_RuntimeError);
    m.attr("__version__") = VELKOR::LidarTQ::version();
    velkor_python::bind_scene(m);
    velkor_python::bind_recording(m);
    velkor_python::bind_sensor(m);
    velkor_python::bind_simulator(m);
}
