#include "processing/processing_chain.hpp"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>

namespace TQZ {

namespace {

// The last set_signal_data_processing call: its count since start-up times
// two, plus one when it switched processing on; 0 before the first call.
// Count and value in one word, so that a chain never takes one without the
// other.
std::atomic<uint64_t> g_processing_switch{0};

}  // namespace

processing_chain::processing_chain()
    : global_offset(std::make_shared<module_global_offset>()),
      offset_calibration(std::make_shared<module_offset_calibration>()),
      walk_error(std::make_shared<module_walk_error>()),
      adaptive_threshold(std::make_shared<module_adaptive_threshold>()),
      depth_completion(std::make_shared<module_depth_completion>()),
      back_beam_removal(std::make_shared<module_back_beam_removal>()),
      gen_pointcloud(std::make_shared<module_gen_pointcloud>())
{
    back_beam_removal->enabled = false;
    second_echo_buffers.clear();
    follow_processing_switch();
}

void processing_chain::follow_processing_switch()
{
    const uint64_t latest = g_processing_switch.load(std::memory_order_acquire);
    if (latest != applied_switch_) {
        set_signal_data_processing((latest & 1u) != 0);
        applied_switch_ = latest;
    }
}

void processing_chain::run(VELKOR::LidarTQ::scene_t& scene) { run_steps(scene, nullptr); }

void processing_chain::run(VELKOR::LidarTQ::scene_t& scene, const worker_points& points)
{
    if (points.directions_left) {
        run_steps(scene, &direction_table_points());
        return;
    }
    raw_point_recipe recipe;
    if (points.placed && raw_recipe(recipe) && recipe == *points.placed) {
        global_offset->process(scene);
        return;
    }
    run(scene);
}

void processing_chain::run_steps(VELKOR::LidarTQ::scene_t& scene,
                                 const std::vector<VELKOR::LidarTQ::point_t>* directions)
{
    follow_processing_switch();
    second_echo_buffers.resize(2);
    // Assignment reuses the module's storage, so an unchanged buffer size
    // costs no allocation per frame.
    back_beam_removal->second_echo = second_echo_buffers;

    back_beam_removal->process(scene);
    // All six at once where they all apply: the corrections then run on
    // each row as the completion pass reaches it.
    pixel_corrections corrections;
    const bool correctable = corrections_for(scene, corrections);
    // The directions stand for the scene's points only where there are as many.
    if (directions != nullptr &&
        (scene.pointcloud.size() != directions->size() ||
         static_cast<size_t>(scene.rows) * static_cast<size_t>(scene.cols) != directions->size())) {
        directions = nullptr;
    }
    const VELKOR::LidarTQ::point_t* measured = directions != nullptr ? directions->data() : nullptr;
    if (correctable &&
        completion_points_.process(scene, *depth_completion, *gen_pointcloud, &corrections, measured)) {
        return;
    }
    if (correctable) {
        run_corrections(scene, corrections);
    } else {
        global_offset->process(scene);
        offset_calibration->process(scene);
        walk_error->process(scene);
        adaptive_threshold->process(scene);
    }
    if (completion_points_.process(scene, *depth_completion, *gen_pointcloud, nullptr, measured)) {
        return;
    }
    // The modules one by one read the directions from the scene's points.
    if (directions != nullptr) {
        std::copy(directions->begin(), directions->end(), scene.pointcloud.begin());
    }
    depth_completion->process(scene);
    gen_pointcloud->process(scene);
}

bool processing_chain::raw_recipe(raw_point_recipe& out)
{
    follow_processing_switch();
    if (back_beam_removal->enabled || offset_calibration->enabled || walk_error->enabled ||
        adaptive_threshold->enabled || depth_completion->enabled) {
        return false;
    }
    // An offset that does not apply subtracts nothing: x - 0 is x.
    out.offset_ns = global_offset->enabled && global_offset->parameters.size() == 1
                        ? global_offset->parameters[0] / global_offset->half_light_speed
                        : 0.0f;
    out.half_light_speed = gen_pointcloud->half_light_speed;
    return true;
}

bool processing_chain::corrections_for(const VELKOR::LidarTQ::scene_t& scene, pixel_corrections& out)
{
    const size_t n = scene.depth.size();
    // The conditions under which each of the four modules applies.
    if (!global_offset->enabled || global_offset->parameters.size() != 1 || !offset_calibration->enabled ||
        offset_calibration->parameters.size() != n || !walk_error->enabled || walk_error->parameters.size() != 6 ||
        !adaptive_threshold->enabled || adaptive_threshold->parameters.size() != 8 || scene.intensity.size() < n ||
        scene.ambient.size() / 3 < n) {
        return false;
    }
    out.offset_ns = global_offset->parameters[0] / global_offset->half_light_speed;
    out.offsets = offset_calibration->parameters.data();
    out.walk = walk_error->table_for_parameters();
    out.walk_term = out.walk->by_intensity.data();
    out.limits = adaptive_threshold->table_for_parameters();
    out.by_level = out.limits->by_level.data();
    out.coefficients = out.limits->coefficients.data();
    return true;
}

void processing_chain::run_corrections(VELKOR::LidarTQ::scene_t& scene, const pixel_corrections& corrections)
{
    const size_t n = scene.depth.size();
    constexpr size_t kBlock = 256;
    uint32_t level[kBlock];
    for (size_t first = 0; first < n; first += kBlock) {
        const size_t count = n - first < kBlock ? n - first : kBlock;
        pixel_corrections::levels(scene.ambient.data() + 3 * first, count, level);
        corrections.apply(level, scene.intensity.data() + first, scene.depth.data() + first, first, count);
    }
}

void processing_chain::set_signal_data_processing(bool enable)
{
    global_offset->enabled = true;
    offset_calibration->enabled = enable;
    back_beam_removal->enabled = enable;
    walk_error->enabled = enable;
    adaptive_threshold->enabled = enable;
    depth_completion->enabled = enable;
}

namespace {

// One "walk_err_param" element as a 32-bit float; false when it is not a
// number or boolean, or is beyond the float range.
bool to_coefficient(const nlohmann::json& element, float& out)
{
    double value = 0.0;
    if (element.is_boolean()) {
        value = element.get<bool>() ? 1.0 : 0.0;
    } else if (element.is_number_unsigned()) {
        out = static_cast<float>(element.get<uint64_t>());
        return true;
    } else if (element.is_number_integer()) {
        out = static_cast<float>(element.get<int64_t>());
        return true;
    } else if (element.is_number_float()) {
        value = element.get<double>();
    } else {
        return false;
    }
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX)) {
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

}  // namespace

void set_signal_data_processing(bool enable)
{
    uint64_t seen = g_processing_switch.load(std::memory_order_relaxed);
    uint64_t next = 0;
    do {
        next = ((seen >> 1) + 1) << 1 | (enable ? 1u : 0u);
    } while (!g_processing_switch.compare_exchange_weak(seen, next, std::memory_order_release,
                                                         std::memory_order_relaxed));
}

bool processing_chain::load_walk_error_parameters(const nlohmann::json& settings)
{
    std::vector<float> coefficients;
    bool well_formed = true;
    try {
        if (settings.is_object() && settings.contains("PL_Reg")) {
            const nlohmann::json& pl_reg = settings["PL_Reg"];
            if (pl_reg.is_object() && pl_reg.contains("walk_err_param") && pl_reg["walk_err_param"].is_array()) {
                for (const nlohmann::json& element : pl_reg["walk_err_param"]) {
                    float value = 0.0f;
                    if (!to_coefficient(element, value)) {
                        well_formed = false;
                        break;
                    }
                    coefficients.push_back(value);
                }
            }
        }
    } catch (...) {
        well_formed = false;
    }
    if (!well_formed) {
        coefficients.clear();
    }
    walk_error->set_parameters(coefficients);
    return well_formed;
}

}  // namespace TQZ
