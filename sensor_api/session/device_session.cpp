#include "session/device_session.hpp"

#include "protocol/json_error_report.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {
// last_error() of the calls interrupt() ended.
const std::string kInterrupted = "interrupted";
}  // namespace

DeviceSession::DeviceSession() : recording_(error_), link_(error_), stream_(recording_), firmware_(link_) {}

// Callers normally stop and disconnect first. The upload thread writes on the
// TCP link: it ends before the link does.
DeviceSession::~DeviceSession()
{
    stream_.halt();
    firmware_.end();
    link_.disconnect();
    stream_.disconnect();
}

void DeviceSession::set_reply_timeout(std::chrono::seconds timeout)
{
    reply_timeout_ = timeout;
    firmware_.set_reply_timeout(timeout);
}

bool DeviceSession::connect(const VELKOR::IP_ADDRESS_T& sensor, const VELKOR::IP_ADDRESS_T& local)
{
    // One settings object for both links: the TCP connect writes its local
    // endpoint back, so UDP binds the very address and port TCP uses.
    VELKOR::ExtInterface_TCP_client::IpSettings settings(local.ip, local.port, sensor.ip, sensor.port, 1000);

    if (interrupted_) {
        set_error(kInterrupted);
        return false;
    }
    reset_stats();
    if (!link_.connect(settings)) {
        return false;
    }
    if (!stream_.connect(settings)) {
        set_error("cannot open the UDP socket on " + settings.local_ip);
        return false;
    }
    if (!link_.request_settings()) {
        return false;
    }

    // The sensor answers the settings request within moments; one that never
    // does must not hold connect forever.
    nlohmann::json reply;
    if (!link_.wait_setting(reply, reply_timeout_, interrupted_)) {
        if (interrupted_) {
            set_error(kInterrupted);
            return false;
        }
        set_error("no reply to json_read within " + std::to_string(reply_timeout_.count()) + " s");
        VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "settings reply timed out";
        return false;
    }

    // The coefficients are this sensor's own and go to this session's chain
    // only. A settings document whose walk-error coefficients are unusable
    // leaves the module a pass-through: the link itself is up, so connect
    // still succeeds.
    try {
        if (!chain_.load_walk_error_parameters(reply)) {
            VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "walk_err_param ignored";
        }
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
    }
    return true;
}

void DeviceSession::disconnect()
{
    // An upload cannot outlive its link, and must not use it while it closes.
    firmware_.end();
    link_.disconnect();
    stream_.disconnect();
}

// The worker starts even when the command cannot be sent.
bool DeviceSession::run()
{
    stream_.start();
    return link_.run();
}

// The worker is joined even when the command cannot be sent.
bool DeviceSession::stop()
{
    const bool ok = link_.stop();
    stream_.halt();
    return ok;
}

// The raw scene comes ready from the pipeline; the chain runs here, on the
// caller's thread, which also reads the process-wide processing switch.
bool DeviceSession::get_scene(scene_t& scene)
{
    worker_points points;
    if (!stream_.take_scene(scene, points)) {
        return false;
    }
    run_chain(scene, points);
    return true;
}

bool DeviceSession::wait_scene(scene_t& scene, std::chrono::milliseconds timeout)
{
    worker_points points;
    if (!stream_.wait_scene(scene, timeout, points, interrupted_)) {
        if (interrupted_) {
            set_error(kInterrupted);
        }
        return false;
    }
    run_chain(scene, points);
    return true;
}

// Runs the chain, then tells the worker what it would do to the next raw
// scenes, so that the worker places their points ahead while it fills them
// (with processing off, point generation is most of what the chain does).
void DeviceSession::run_chain(scene_t& scene, const worker_points& points)
{
    chain_.run(scene, points);
    raw_point_recipe recipe;
    stream_.set_point_recipe(chain_.raw_recipe(recipe) ? std::optional<raw_point_recipe>(recipe) : std::nullopt);
}

bool DeviceSession::get_scene(scene_t& scene, int index)
{
    // Only a recording open for playback is replayed: while one is being
    // written the datagrams belong to the live stream.
    if (index >= 0 && recording_.replay_source()) {
        FrameAssembler assembler = stream_.make_assembler();
        Frame frame;
        if (!recording_.replay_frame(index, assembler, frame)) {
            return false;
        }
        stream_.publish(frame);
    }
    return get_scene(scene);
}

bool DeviceSession::wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout)
{
    if (link_.wait_setting(out, timeout, interrupted_)) {
        return true;
    }
    set_error(interrupted_ ? kInterrupted : "no settings reply within " + std::to_string(timeout.count()) + " ms");
    return false;
}

bool DeviceSession::wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout)
{
    if (link_.wait_reply(out, timeout, interrupted_)) {
        return true;
    }
    set_error(interrupted_ ? kInterrupted : "no reply within " + std::to_string(timeout.count()) + " ms");
    return false;
}

// The flag first: a waiter woken by the wakes below, or starting later,
// finds it set.
void DeviceSession::interrupt()
{
    interrupted_ = true;
    link_.interrupt();
    stream_.wake_scene_waiters();
}

bool DeviceSession::play_start(const std::string& path)
{
    stream_.arm();
    // A replay that cannot start because a file is open keeps the counters.
    if (!recording_.is_open()) {
        reset_stats();
    }
    return recording_.play_start(path);
}

void DeviceSession::play_stop()
{
    recording_.play_stop();
    stream_.halt();
}

}  // namespace TQZ
