#include "main_window/sensor_worker.hpp"

#include <QMetaObject>
#include <QThread>

#include "main_window/replay_timing.hpp"

namespace {

// How long one wait for a stream scene may last: operations queued from the
// GUI (record, settings, disconnect) run between two waits, so this bounds
// how long the window waits for them.
constexpr std::chrono::milliseconds kSceneWait{50};

// Frames of the open recording. The library reports the last frame number,
// which is 4294967295 (0 - 1 in 32 bits) for a file without frames; the
// replay needs the count, so that the last frame is shown too.
uint64_t frame_count(VELKOR::LidarTQ& sensor) {
    uint64_t last = 0;
    if (!sensor.get_file_size(last) || last >= 0xFFFFFFFFull)
        return 0;
    return last + 1;
}

}  // namespace

sensor_worker::sensor_worker(VELKOR::fw_status_callback_t fw_status, void* fw_user)
    : fw_status_(fw_status), fw_user_(fw_user) {}

sensor_worker::~sensor_worker() = default;

void sensor_worker::open_stream(const VELKOR::IP_ADDRESS_T& device, const VELKOR::IP_ADDRESS_T& pc) {
    const uint64_t ticket = ++opens_asked_;
    QMetaObject::invokeMethod(this, [this, device, pc, ticket] { do_open_stream(device, pc, ticket); },
                              Qt::QueuedConnection);
}

// Every open asked for so far gives up: the one connecting now is
// interrupted, the ones still queued find their ticket given up.
void sensor_worker::interrupt_opens() {
    std::lock_guard<std::mutex> lock(mutex_);
    opens_given_up_ = opens_asked_;
    if (connecting_)
        connecting_->interrupt();
}

void sensor_worker::open_replay(const std::string& path) {
    QMetaObject::invokeMethod(this, [this, path] { do_open_replay(path); }, Qt::QueuedConnection);
}

void sensor_worker::close(bool wait) {
    interrupt_opens();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        has_latest_ = false;
    }
    QMetaObject::invokeMethod(this, [this] { do_close(); },
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

bool sensor_worker::call(const std::function<void(VELKOR::LidarTQ&)>& op) {
    bool ran = false;
    QMetaObject::invokeMethod(
        this,
        [this, &op, &ran] {
            if (!sensor_)
                return;
            op(*sensor_);
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

void sensor_worker::want_frame(uint64_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_ = index;
    if (frame_queued_)
        return;
    frame_queued_ = true;
    QMetaObject::invokeMethod(this, [this] { serve_frame(); }, Qt::QueuedConnection);
}

bool sensor_worker::take_scene(VELKOR::LidarTQ::scene_t& scene) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!has_latest_)
        return false;
    std::swap(scene, latest_);
    has_latest_ = false;
    return true;
}

sensor_worker::rates_t sensor_worker::rates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rates_;
}

void sensor_worker::finish() {
    interrupt_opens();
    QMetaObject::invokeMethod(
        this,
        [this] {
            do_close();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
}

void sensor_worker::make_sensor() {
    sensor_ = std::make_unique<VELKOR::LidarTQ>();
    sensor_->set_signal_data_processing(true);
    sensor_->register_fw_status_callback(fw_status_, fw_user_);
    last_stats_ = VELKOR::SESSION_STATS_T{};
    scenes_ = last_scenes_ = 0;
    replay_megabytes_per_s_ = -1.0;
    rate_clock_.start();
    std::lock_guard<std::mutex> lock(mutex_);
    rates_ = rates_t{};
}

void sensor_worker::do_open_stream(VELKOR::IP_ADDRESS_T device, VELKOR::IP_ADDRESS_T pc, uint64_t ticket) {
    do_close();
    make_sensor();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connecting_ = sensor_.get();
        if (ticket <= opens_given_up_)
            sensor_->interrupt();
    }
    const bool connected = sensor_->connect(device, pc);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connecting_ = nullptr;
    }
    if (!connected) {
        const QString why = QString::fromStdString(sensor_->last_error());
        sensor_->disconnect();
        sensor_.reset();
        emit stream_opened(false, false, why);
        return;
    }
    mode_ = mode_t::stream;
    const bool running = sensor_->run();
    emit stream_opened(true, running, QString());
    if (running)
        stream_step();
}

void sensor_worker::do_open_replay(std::string path) {
    do_close();
    make_sensor();
    if (!sensor_->play_start(path)) {
        sensor_->play_stop();
        sensor_.reset();
        emit replay_opened(false, 0, 0.0);
        return;
    }
    mode_ = mode_t::replay;
    uint64_t file_bytes = 0;
    const std::vector<int64_t> stamps = replay_timing::frame_stamps(path, file_bytes);
    const double rate = replay_timing::recorded_rate(stamps);
    if (rate > 0.0) {
        const double seconds = static_cast<double>(stamps.back() - stamps.front()) / 1e6;
        replay_megabytes_per_s_ = static_cast<double>(file_bytes) / seconds / 1e6;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rates_.sensor_fps = rate;
        rates_.megabytes_per_s = replay_megabytes_per_s_;
    }
    emit replay_opened(true, frame_count(*sensor_), rate);
}

void sensor_worker::do_close() {
    if (!sensor_)
        return;
    if (mode_ == mode_t::replay) {
        sensor_->play_stop();
    } else {
        sensor_->stop();
        sensor_->disconnect();
    }
    sensor_.reset();
    mode_ = mode_t::none;
    std::lock_guard<std::mutex> lock(mutex_);
    has_latest_ = false;
    rates_ = rates_t{};
}

void sensor_worker::publish() {
    bool was_waiting = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(latest_, work_);
        was_waiting = has_latest_;
        has_latest_ = true;
    }
    // One notice per waiting scene: a newer scene replaces it silently.
    if (!was_waiting)
        emit scene_ready(true);
}

// One wait for a scene, then back to the event loop, so that queued
// operations run between waits; it queues itself again while streaming.
void sensor_worker::stream_step() {
    if (!sensor_ || mode_ != mode_t::stream)
        return;
    if (sensor_->wait_scene(work_, kSceneWait)) {
        ++scenes_;
        publish();
    }
    update_rates(false);
    QMetaObject::invokeMethod(this, [this] { stream_step(); }, Qt::QueuedConnection);
}

void sensor_worker::serve_frame() {
    uint64_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = wanted_;
        frame_queued_ = false;
    }
    if (!sensor_ || mode_ != mode_t::replay)
        return;
    if (!sensor_->get_scene(work_, static_cast<int>(index))) {
        emit scene_ready(false);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(latest_, work_);
        has_latest_ = true;
    }
    emit scene_ready(true);
}

// Once a second: the sensor's frame rate and datagram loss from the
// session's counters, or from the scenes taken here while those stay zero.
void sensor_worker::update_rates(bool force) {
    const qint64 ns = rate_clock_.nsecsElapsed();
    if (!force && ns < 1000000000LL)
        return;
    rate_clock_.restart();
    const double s = static_cast<double>(ns) / 1e9;
    const VELKOR::SESSION_STATS_T now = sensor_->stats();
    const uint64_t published = now.frames_published - last_stats_.frames_published;
    const uint64_t datagrams = now.datagrams_received - last_stats_.datagrams_received;
    const uint64_t lost = now.slot_losses - last_stats_.slot_losses;
    const uint64_t bytes = now.bytes_received - last_stats_.bytes_received;
    rates_t r;
    r.megabytes_per_s = static_cast<double>(bytes) / s / 1e6;
    r.sensor_fps = static_cast<double>(published > 0 ? published : scenes_ - last_scenes_) / s;
    if (datagrams + lost > 0)
        r.loss_percent = 100.0 * static_cast<double>(lost) / static_cast<double>(datagrams + lost);
    r.recording_failed = now.recording_failed != 0;
    last_stats_ = now;
    last_scenes_ = scenes_;
    std::lock_guard<std::mutex> lock(mutex_);
    rates_ = r;
}
