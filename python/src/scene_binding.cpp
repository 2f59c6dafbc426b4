// velkor.Scene: a scene's images and points as numpy views over the scene's
// own memory, saving to the files `tqz export` writes, and pickling (Dask
// moves scenes between processes).

#include <cstring>
#include <filesystem>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "bindings.hpp"
#include "scene_object.hpp"
#include "scene_writer.hpp"

namespace py = pybind11;

namespace velkor_python {

namespace {

using point_t = VELKOR::LidarTQ::point_t;

// rows x width of an image of `count` values: the scene's rows when they
// divide it, else one row (the writers' rule).
std::pair<py::ssize_t, py::ssize_t> image_shape(const VELKOR::LidarTQ::scene_t& scene, std::size_t count)
{
    py::ssize_t rows = scene.rows > 0 ? scene.rows : 1;
    if (count == 0 || count % static_cast<std::size_t>(rows) != 0) {
        rows = count == 0 ? 0 : 1;
    }
    return {rows, rows ? static_cast<py::ssize_t>(count) / rows : 0};
}

template <typename T> py::array image_view(py::object self, const std::vector<T>& values)
{
    const SceneObject& s = self.cast<const SceneObject&>();
    const auto [rows, cols] = image_shape(s.scene, values.size());
    const py::ssize_t size = sizeof(T);
    py::array view(py::dtype::of<T>(), std::vector<py::ssize_t>{rows, cols}, std::vector<py::ssize_t>{cols * size, size},
                   values.data(), self);
    py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return view;
}

// The pointcloud is an array of seven-double records: a field is a strided
// view, `width` doubles from `offset` on in every record.
py::array point_view(py::object self, std::size_t offset, py::ssize_t width)
{
    const SceneObject& s = self.cast<const SceneObject&>();
    const std::vector<point_t>& points = s.scene.pointcloud;
    const auto [rows, cols] = image_shape(s.scene, points.size());
    const py::ssize_t record = sizeof(point_t);
    const double* first = points.empty() ? nullptr : reinterpret_cast<const double*>(points.data()) + offset;
    std::vector<py::ssize_t> shape{rows, cols};
    std::vector<py::ssize_t> strides{cols * record, record};
    if (width > 1) {
        shape.push_back(width);
        strides.push_back(sizeof(double));
    }
    py::array view(py::dtype::of<double>(), shape, strides, first, self);
    py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return view;
}

template <typename T> py::bytes raw_bytes(const std::vector<T>& values)
{
    return py::bytes(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

template <typename T> void from_bytes(const py::bytes& bytes, std::vector<T>& values)
{
    const std::string_view data(bytes);
    if (data.size() % sizeof(T) != 0) {
        throw py::value_error("scene state of the wrong size");
    }
    values.resize(data.size() / sizeof(T));
    if (!data.empty()) {
        std::memcpy(values.data(), data.data(), data.size());
    }
}

VELKOR::EXPORT::SceneFormat format_of(const std::string& path, const std::string& format)
{
    std::string name = format;
    if (name.empty()) {
        name = std::filesystem::path(path).extension().string();
        if (!name.empty()) {
            name.erase(0, 1);
        }
    }
    VELKOR::EXPORT::SceneFormat out{};
    if (!VELKOR::EXPORT::parse_format(name, out)) {
        throw py::value_error("format is pcd, ply or csv, not '" + name + "'");
    }
    return out;
}

}  // namespace

void bind_scene(py::module_& m)
{
    py::class_<SceneObject>(m, "Scene",
                            "One frame: depth (ns of round-trip time, float32), intensity (uint16) and\n"
                            "ambient (uint32) images, and per pixel xyz (mm), azimuth and elevation\n"
                            "(rad), all read-only numpy views over the scene's own memory.")
        .def(py::init<>())
        .def_property_readonly("rows", [](const SceneObject& s) { return image_shape(s.scene, s.scene.depth.size()).first; })
        .def_property_readonly("cols", [](const SceneObject& s) { return image_shape(s.scene, s.scene.depth.size()).second; })
        .def_readonly("source", &SceneObject::source, "the recording's file or the sensor's address")
        .def_readonly("frame", &SceneObject::frame, "the frame number in its recording or live stream")
        .def_property_readonly("depth", [](py::object self) { return image_view(self, self.cast<const SceneObject&>().scene.depth); })
        .def_property_readonly("intensity", [](py::object self) { return image_view(self, self.cast<const SceneObject&>().scene.intensity); })
        .def_property_readonly("ambient", [](py::object self) { return image_view(self, self.cast<const SceneObject&>().scene.ambient); })
        .def_property_readonly("azimuth", [](py::object self) { return point_view(self, 1, 1); })
        .def_property_readonly("elevation", [](py::object self) { return point_view(self, 2, 1); })
        .def_property_readonly("xyz", [](py::object self) { return point_view(self, 3, 3); })
        .def(
            "save",
            [](const SceneObject& s, const std::filesystem::path& file, const std::string& format) {
                const std::string path = file.string();
                const VELKOR::EXPORT::SceneFormat f = format_of(path, format);
                bool written = false;
                {
                    py::gil_scoped_release unlocked;
                    written = VELKOR::EXPORT::write_scene_file(path, s.scene, f, s.source, s.frame);
                }
                if (!written) {
                    throw Error("cannot write " + path);
                }
            },
            py::arg("path"), py::arg("format") = "",
            "Writes the scene as `tqz export` does (the same bytes): pcd, ply or csv,\n"
            "chosen by `format` or else by the file's extension.")
        .def("__repr__",
             [](const SceneObject& s) {
                 const auto [rows, cols] = image_shape(s.scene, s.scene.depth.size());
                 return "<velkor.Scene " + std::to_string(rows) + "x" + std::to_string(cols) + " frame " +
                        std::to_string(s.frame) + " of " + s.source + ">";
             })
        .def(py::pickle(
            [](const SceneObject& s) {
                return py::make_tuple(s.scene.rows, s.scene.cols, raw_bytes(s.scene.ambient), raw_bytes(s.scene.depth),
                                      raw_bytes(s.scene.intensity), raw_bytes(s.scene.pointcloud), s.source, s.frame);
            },
            [](const py::tuple& state) {
                if (state.size() != 8) {
                    throw py::value_error("not a velkor.Scene state");
                }
                SceneObject s;
                s.scene.rows = state[0].cast<int32_t>();
                s.scene.cols = state[1].cast<int32_t>();
                from_bytes(state[2].cast<py::bytes>(), s.scene.ambient);
                from_bytes(state[3].cast<py::bytes>(), s.scene.depth);
                from_bytes(state[4].cast<py::bytes>(), s.scene.intensity);
                from_bytes(state[5].cast<py::bytes>(), s.scene.pointcloud);
                s.source = state[6].cast<std::string>();
                s.frame = state[7].cast<long>();
                return s;
            }));
}

}  // namespace velkor_python
