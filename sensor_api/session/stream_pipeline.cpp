#include "session/stream_pipeline.hpp"

#include "recording/logger.hpp"
#include "session/session_recording.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

// Longest wait of the stream worker for a datagram: it wakes at once when one
// is pushed, and looks at its running flag at least this often, so halt joins
// it within this time.
constexpr auto kIdleWait = std::chrono::milliseconds(20);

}  // namespace

StreamPipeline::StreamPipeline(SessionRecording& recording)
    : recording_(recording), udp_(std::make_shared<VELKOR::ExtInterface_UDP_client>())
{
}

StreamPipeline::~StreamPipeline()
{
    running_ = false;
    if (worker_ && worker_->joinable()) {
        worker_->join();
    }
    udp_->disconnect();
}

bool StreamPipeline::connect(VELKOR::ExtInterface_UDP_client::IpSettings& settings)
{
    udp_->registRecvCallback(&StreamPipeline::receive_callback, this);
    return udp_->connect(settings);
}

void StreamPipeline::disconnect() { udp_->disconnect(); }

void StreamPipeline::set_receive_callback(VELKOR::ExtInterfaceBase::RecvCallback callback, void* user)
{
    udp_->registRecvCallback(callback, user);
}

void StreamPipeline::start()
{
    arm();
    if (!worker_) {
        worker_ = std::make_unique<std::thread>(&StreamPipeline::worker_loop, this);
    }
}

void StreamPipeline::arm()
{
    frame_queue_.clear();
    packet_queue_.clear();
    running_ = true;
}

void StreamPipeline::halt()
{
    frame_queue_.clear();
    packet_queue_.clear();
    running_ = false;
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    frame_queue_.clear();
    packet_queue_.clear();
}

bool StreamPipeline::take_frame(Frame& frame) { return frame_queue_.pop(frame) && frame; }

bool StreamPipeline::wait_frame(Frame& frame, std::chrono::milliseconds timeout)
{
    return frame_queue_.pop_for(frame, timeout) && frame;
}

VELKOR::SESSION_STATS_T StreamPipeline::stats() const
{
    VELKOR::SESSION_STATS_T out;
    out.datagrams_received = datagrams_received_.load();
    out.emb_crc_errors = flag_counts_.emb_crc_errors.load();
    out.act_crc_errors = flag_counts_.act_crc_errors.load();
    out.slot_losses = slot_losses_.load();
    out.frames_published = frames_published_.load();
    out.frames_dropped = frames_dropped_.load();
    out.deepest_packet_queue = deepest_packet_queue_.load();
    return out;
}

void StreamPipeline::reset_stats()
{
    datagrams_received_ = 0;
    flag_counts_.emb_crc_errors = 0;
    flag_counts_.act_crc_errors = 0;
    slot_losses_ = 0;
    frames_published_ = 0;
    frames_dropped_ = 0;
    deepest_packet_queue_ = 0;
}

// ---- The hot path: receive thread -> packet queue -> worker -> frame queue.

// UDP receive thread: every datagram goes to the stream worker and, while a
// recorder is in place, to the recorder.
void StreamPipeline::receive(const uint8_t* data, std::size_t length)
{
    packet_queue_.push(ByteVector(data, data + length));
    datagrams_received_.fetch_add(1, std::memory_order_relaxed);
    const uint64_t depth = packet_queue_.size();
    if (depth > deepest_packet_queue_.load(std::memory_order_relaxed)) {
        deepest_packet_queue_.store(depth, std::memory_order_relaxed);
    }
    recording_.record(data, length);
}

void StreamPipeline::receive_callback(void* user, char* data, unsigned int length)
{
    static_cast<StreamPipeline*>(user)->receive(reinterpret_cast<const uint8_t*>(data), length);
}

// Waits up to `wait` for the next datagram: from the recorder while it is
// open for reading (and until record_stop releases it), otherwise from the
// live packet queue.
bool StreamPipeline::wait_datagram(ByteVector& datagram, std::chrono::milliseconds wait)
{
    const std::shared_ptr<VELKOR::Logger> source = recording_.replay_source();
    return source ? source->packet_queue.pop_for(datagram, wait) : packet_queue_.pop_for(datagram, wait);
}

void StreamPipeline::worker_loop()
{
    FrameAssembler assembler = make_assembler();
    ByteVector datagram;
    while (running_) {
        if (!wait_datagram(datagram, kIdleWait)) {
            continue;
        }
        switch (assembler.feed(datagram.data(), datagram.size())) {
        case FrameAssembler::Result::frame_complete:
            publish(assembler.publish_frame());
            break;
        case FrameAssembler::Result::frame_incomplete:
            slot_losses_.fetch_add(1, std::memory_order_relaxed);
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "slot_loss";
            break;
        default:
            break;
        }
    }
}

void StreamPipeline::publish(Frame frame)
{
    frames_published_.fetch_add(1, std::memory_order_relaxed);
    if (frame_queue_.push(std::move(frame))) {
        frames_dropped_.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace TQZ
