// _velkor.RecordingReader: frames of a `.bin` recording by index, replayed
// through LidarTQ as `tqz export` replays them; and the recording's info.

#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "bindings.hpp"
#include "processing_hold.hpp"
#include "recording_info.hpp"
#include "scene_object.hpp"

namespace py = pybind11;

namespace velkor_python {

namespace {

class RecordingReader {
public:
    RecordingReader(const std::string& path, bool processing) : path_(path), processing_(processing)
    {
        std::error_code ec;
        // A directory opens as a stream too, with a size no file has.
        if (!std::filesystem::is_regular_file(path, ec)) {
            throw Error(path + " is not a regular file");
        }
        bool opened = false;
        {
            py::gil_scoped_release unlocked;
            opened = lidar_.play_start(path);
            uint64_t last = 0;
            lidar_.get_file_size(last);
            // The last frame number is the count minus one in 32 bits: an
            // empty index reports 4294967295, which is no frame at all.
            frames_ = static_cast<uint32_t>(last + 1);
        }
        if (!opened) {
            lidar_.play_stop();
            throw Error(reason(lidar_, "cannot open " + path));
        }
    }

    ~RecordingReader() { lidar_.play_stop(); }

    long frames() const { return frames_; }
    const std::string& path() const { return path_; }
    bool processing() const { return processing_; }

    std::unique_ptr<SceneObject> read(long index)
    {
        if (index < 0 || index >= frames_) {
            throw py::index_error("frame " + std::to_string(index) + " is not in " + path_ + " (" +
                                  std::to_string(frames_) + " frames)");
        }
        auto out = std::make_unique<SceneObject>();
        out->source = path_;
        out->frame = index;
        bool assembled = false;
        {
            py::gil_scoped_release unlocked;
            ProcessingHold hold(lidar_, processing_);
            assembled = lidar_.get_scene(out->scene, static_cast<int>(index));
        }
        if (!assembled) {
            throw Error(reason(lidar_, "frame " + std::to_string(index) + " of " + path_ +
                                           " does not assemble (rows missing or broken)"));
        }
        return out;
    }

private:
    VELKOR::LidarTQ lidar_;
    std::string path_;
    bool processing_;
    long frames_ = 0;
};

std::string info_json(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw Error(path + " is not a regular file");
    }
    VELKOR::EXPORT::RecordingInfo info;
    bool read = false;
    {
        py::gil_scoped_release unlocked;
        read = VELKOR::EXPORT::read_recording_info(path, info);
    }
    if (!read) {
        throw Error("cannot open " + path);
    }
    return VELKOR::EXPORT::recording_info_json(path, info).dump();
}

}  // namespace

void bind_recording(py::module_& m)
{
    py::class_<RecordingReader>(m, "RecordingReader")
        .def(py::init<const std::string&, bool>(), py::arg("path"), py::arg("processing"))
        .def_property_readonly("frames", &RecordingReader::frames)
        .def_property_readonly("path", &RecordingReader::path)
        .def_property_readonly("processing", &RecordingReader::processing)
        .def("read", &RecordingReader::read, py::arg("index"));
    m.def("recording_info_json", &info_json, py::arg("path"));
}

}  // namespace velkor_python
