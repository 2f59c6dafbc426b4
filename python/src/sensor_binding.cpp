// _velkor.SensorLink: one live sensor through LidarTQ. Every call that waits
// (connect, scenes, settings, firmware) releases the GIL while it waits.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include "bindings.hpp"
#include "processing_hold.hpp"
#include "scene_object.hpp"

namespace py = pybind11;
using namespace std::chrono_literals;

namespace velkor_python {

namespace {

const char kUploadFinished[] = "FW_Upload_Finish!";
const char kUploadThreadDone[] = "[Firmware] TQZ::fw_upload_thread_process : Done.";

// A wait keeps the processing switch for one slice at a time, so that a long
// wait for a live scene does not stall readers in other threads that want
// the other processing setting.
constexpr auto kWaitSlice = 50ms;

std::chrono::steady_clock::duration seconds(double s)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}

// Calls `attempt(slice)` with the GIL released until it succeeds or
// `timeout` has passed, a slice of at most kWaitSlice at a time. Between
// slices the Python signal handlers run, so that Ctrl-C ends the wait with
// KeyboardInterrupt as it would end a time.sleep. Called with the GIL held.
template <typename Attempt>
bool wait_in_slices(std::chrono::steady_clock::duration timeout, Attempt attempt)
{
    const auto deadline = std::chrono::steady_clock::now() + std::max(timeout, std::chrono::steady_clock::duration{});
    for (;;) {
        bool got = false;
        {
            py::gil_scoped_release unlocked;
            const auto left = deadline - std::chrono::steady_clock::now();
            got = attempt(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::clamp<std::chrono::steady_clock::duration>(left, 0ms, kWaitSlice)));
        }
        if (got) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    }
}

// Status lines of a firmware upload, handed from the upload thread to the
// Python thread that waits in upload_firmware.
class UploadMessages {
public:
    static void on_status(void* user, std::string message)
    {
        auto* self = static_cast<UploadMessages*>(user);
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->messages_.push_back(std::move(message));
        }
        self->ready_.notify_one();
    }

    // The next message, or false after `timeout` without one.
    bool next(std::string& message, std::chrono::steady_clock::duration timeout)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
            return false;
        }
        message = std::move(messages_.front());
        messages_.pop_front();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> messages_;
};

class SensorLink {
public:
    SensorLink(const std::string& ip, int port, const std::string& local_ip, int local_port, bool processing)
        : sensor_{ip, port}, local_{local_ip, local_port}, processing_(processing)
    {
        source_ = ip + ":" + std::to_string(port);
    }

    ~SensorLink() { close(); }

    // The connect (up to 13 s with a silent sensor) runs on a thread of its
    // own, so that this one can take Ctrl-C: the connect is then interrupted
    // and the link starts afresh with a new handle.
    void connect()
    {
        std::future<bool> connecting = std::async(std::launch::async, [this] {
            const bool connected = lidar_.connect(sensor_, local_);
            if (!connected) {
                lidar_.disconnect();
            }
            return connected;
        });
        try {
            wait_in_slices(std::chrono::hours(1), [&](std::chrono::milliseconds slice) {
                return connecting.wait_for(slice) == std::future_status::ready;
            });
        } catch (py::error_already_set&) {
            lidar_.interrupt();
            {
                py::gil_scoped_release unlocked;
                connecting.wait();
                lidar_.disconnect();
                lidar_ = VELKOR::LidarTQ();
            }
            throw;
        }
        if (!connecting.get()) {
            throw Error(reason(lidar_, "cannot connect to " + source_));
        }
        connected_ = true;
    }

    // Stops the stream and any recording, and disconnects; harmless twice.
    void close()
    {
        py::gil_scoped_release unlocked;
        if (recording_) {
            lidar_.record_stop();
            recording_ = false;
        }
        if (running_) {
            lidar_.stop();
            running_ = false;
        }
        if (connected_) {
            lidar_.disconnect();
            connected_ = false;
        }
    }

    void run()
    {
        require_connected();
        if (running_) {
            return;
        }
        bool ok = false;
        {
            py::gil_scoped_release unlocked;
            ok = lidar_.run();
        }
        if (!ok) {
            throw Error(reason(lidar_, "cannot start the stream of " + source_));
        }
        running_ = true;
    }

    // The next scene, or None when none arrived within `timeout_s`.
    std::unique_ptr<SceneObject> next_scene(double timeout_s)
    {
        run();
        auto out = std::make_unique<SceneObject>();
        const bool got = wait_in_slices(seconds(std::max(timeout_s, 0.0)), [&](std::chrono::milliseconds slice) {
            ProcessingHold hold(lidar_, processing_);
            return lidar_.wait_scene(out->scene, slice);
        });
        if (!got) {
            return nullptr;
        }
        out->source = source_;
        out->frame = scenes_++;
        return out;
    }

    // The sensor's settings document as JSON text.
    std::string settings(double timeout_s)
    {
        require_connected();
        nlohmann::json document;
        bool sent = false;
        {
            py::gil_scoped_release unlocked;
            sent = lidar_.json_read_from_memory();
        }
        if (!sent) {
            throw Error(reason(lidar_, "no settings reply from " + source_));
        }
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(seconds(timeout_s));
        if (!wait_in_slices(timeout, [&](std::chrono::milliseconds slice) { return lidar_.wait_setting(document, slice); })) {
            // The library's text names the last slice; the caller's time-out is the whole wait.
            throw Error("no settings reply from " + source_ + ": no settings reply within " +
                        std::to_string(timeout.count()) + " ms");
        }
        return document.dump();
    }

    void apply_settings(const std::string& json_text)
    {
        require_connected();
        nlohmann::json document = nlohmann::json::parse(json_text, nullptr, false);
        if (document.is_discarded() || !document.is_object()) {
            throw py::value_error("settings must be a JSON object");
        }
        bool ok = false;
        {
            py::gil_scoped_release unlocked;
            ok = lidar_.send_json(document);
        }
        if (!ok) {
            throw Error(reason(lidar_, "cannot send the settings to " + source_));
        }
    }

    void save_settings()
    {
        require_connected();
        bool ok = false;
        {
            py::gil_scoped_release unlocked;
            ok = lidar_.json_write_to_memory();
        }
        if (!ok) {
            throw Error(reason(lidar_, "cannot send the save command to " + source_));
        }
    }

    // Starts recording into `directory` (which exists); the new file's path.
    std::string record(const std::string& directory)
    {
        require_connected();
        const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
        bool ok = false;
        {
            py::gil_scoped_release unlocked;
            ok = lidar_.record_start(prefix);
            if (!ok) {
                lidar_.record_stop();
            }
        }
        if (!ok) {
            throw Error(reason(lidar_, "cannot create a recording in " + directory));
        }
        recording_ = true;
        return lidar_.recording_path();
    }

    void stop_recording()
    {
        py::gil_scoped_release unlocked;
        lidar_.record_stop();
        recording_ = false;
    }

    py::dict stats() const
    {
        const VELKOR::SESSION_STATS_T s = lidar_.stats();
        py::dict out;
        out["datagrams_received"] = s.datagrams_received;
        out["emb_crc_errors"] = s.emb_crc_errors;
        out["act_crc_errors"] = s.act_crc_errors;
        out["slot_losses"] = s.slot_losses;
        out["frames_published"] = s.frames_published;
        out["frames_dropped"] = s.frames_dropped;
        out["deepest_packet_queue"] = s.deepest_packet_queue;
        out["recording_failed"] = s.recording_failed;
        out["bytes_received"] = s.bytes_received;
        return out;
    }

    // Uploads a firmware image; `progress` gets the percentage (0-100) as the
    // sensor reports it. Returns when the upload has ended.
    void upload_firmware(const std::string& path, const std::function<void(double)>& progress)
    {
        require_connected();
        UploadMessages messages;
        lidar_.register_fw_status_callback(&UploadMessages::on_status, &messages);
        std::string last_failure;
        bool started = false;
        {
            py::gil_scoped_release unlocked;
            started = lidar_.tcp_fw_upload(path.c_str());
        }
        bool finished = false;
        bool done = !started;
        std::string message;
        while (!done) {
            bool got = false;
            {
                py::gil_scoped_release unlocked;
                // The upload thread ends itself after 10 s without a reply.
                got = messages.next(message, std::chrono::seconds(30));
            }
            if (!got) {
                last_failure = "no word from the firmware upload within 30 s";
                break;
            }
            if (message.rfind("PG", 0) == 0) {
                if (progress) {
                    progress(std::atof(message.c_str() + 2));
                }
            } else if (message == kUploadFinished) {
                finished = true;
            } else if (message == kUploadThreadDone) {
                done = true;
            } else {
                last_failure = message;
            }
        }
        if (!done && started) {
            // The thread still holds the callback: let the next upload or the
            // disconnect end it before `messages` goes.
            py::gil_scoped_release unlocked;
            lidar_.disconnect();
            connected_ = false;
            running_ = false;
        }
        lidar_.register_fw_status_callback(nullptr, nullptr);
        if (!started) {
            throw Error(reason(lidar_, "cannot start the firmware upload of " + path));
        }
        if (!finished) {
            throw Error(last_failure.empty() ? "the firmware upload did not finish" : last_failure);
        }
    }

    const std::string& source() const { return source_; }
    bool connected() const { return connected_; }
    bool running() const { return running_; }

private:
    void require_connected() const
    {
        if (!connected_) {
            throw Error("not connected to " + source_);
        }
    }

    VELKOR::LidarTQ lidar_;
    VELKOR::IP_ADDRESS_T sensor_;
    VELKOR::IP_ADDRESS_T local_;
    bool processing_;
    std::string source_;
    bool connected_ = false;
    bool running_ = false;
    bool recording_ = false;
    long scenes_ = 0;
};

}  // namespace

void bind_sensor(py::module_& m)
{
    py::class_<SensorLink>(m, "SensorLink")
        .def(py::init<const std::string&, int, const std::string&, int, bool>(), py::arg("ip"), py::arg("port"),
             py::arg("local_ip"), py::arg("local_port"), py::arg("processing"))
        .def("connect", &SensorLink::connect)
        .def("close", &SensorLink::close)
        .def("run", &SensorLink::run)
        .def("next_scene", &SensorLink::next_scene, py::arg("timeout"))
        .def("settings", &SensorLink::settings, py::arg("timeout"))
        .def("apply_settings", &SensorLink::apply_settings, py::arg("json_text"))
        .def("save_settings", &SensorLink::save_settings)
        .def("record", &SensorLink::record, py::arg("directory"))
        .def("stop_recording", &SensorLink::stop_recording)
        .def("stats", &SensorLink::stats)
        .def("upload_firmware", &SensorLink::upload_firmware, py::arg("path"), py::arg("progress"))
        .def_property_readonly("source", &SensorLink::source)
        .def_property_readonly("connected", &SensorLink::connected)
        .def_property_readonly("running", &SensorLink::running);
}

}  // namespace velkor_python
