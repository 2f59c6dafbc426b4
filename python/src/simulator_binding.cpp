// _velkor.SimulatorRunner: the simulated sensor on 127.0.0.1, in-process.

#include <memory>

#include "bindings.hpp"
#include "sim_sensor.hpp"

namespace py = pybind11;

namespace velkor_python {

namespace {

class SimulatorRunner {
public:
    SimulatorRunner(double fps, int port, uint32_t seed, const std::string& settings_json, double loss_rate,
                    bool replies)
    {
        if (!(fps > 0) || port < 0 || port > 65535 || !(loss_rate >= 0 && loss_rate <= 1)) {
            throw py::value_error("fps must be above 0, port 0-65535 and loss between 0 and 1");
        }
        VELKOR::SIM::SimOptions options;
        options.port = port;
        options.fps = fps;
        options.seed = seed;
        options.loss_rate = loss_rate;
        options.reply_fault = replies ? VELKOR::SIM::ReplyFault::none : VELKOR::SIM::ReplyFault::no_reply;
        sim_ = std::make_unique<VELKOR::SIM::SimSensor>(options);
        if (!settings_json.empty()) {
            const nlohmann::json settings = nlohmann::json::parse(settings_json, nullptr, false);
            if (settings.is_discarded() || !settings.is_object()) {
                throw py::value_error("settings must be a JSON object");
            }
            sim_->set_settings(settings);
        }
    }

    ~SimulatorRunner() { stop(); }

    void start()
    {
        bool started = false;
        {
            py::gil_scoped_release unlocked;
            started = sim_->start();
        }
        if (!started) {
            throw Error("the simulator cannot listen on " + sim_->address());
        }
    }

    void stop()
    {
        py::gil_scoped_release unlocked;
        sim_->stop();
    }

    std::string ip() const { return sim_->address(); }
    int port() const { return sim_->port(); }
    uint64_t frames_sent() const { return sim_->frames_sent(); }
    bool client_connected() const { return sim_->client_connected(); }
    bool streaming() const { return sim_->streaming(); }

private:
    std::unique_ptr<VELKOR::SIM::SimSensor> sim_;
};

}  // namespace

void bind_simulator(py::module_& m)
{
    py::class_<SimulatorRunner>(m, "SimulatorRunner")
        .def(py::init<double, int, uint32_t, const std::string&, double, bool>(), py::arg("fps"), py::arg("port"),
             py::arg("seed"), py::arg("settings_json"), py::arg("loss_rate"), py::arg("replies"))
        .def("start", &SimulatorRunner::start)
        .def("stop", &SimulatorRunner::stop)
        .def_property_readonly("ip", &SimulatorRunner::ip)
        .def_property_readonly("port", &SimulatorRunner::port)
        .def_property_readonly("frames_sent", &SimulatorRunner::frames_sent)
        .def_property_readonly("client_connected", &SimulatorRunner::client_connected)
        .def_property_readonly("streaming", &SimulatorRunner::streaming);
}

}  // namespace velkor_python
