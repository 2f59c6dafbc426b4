#include "processing/module_gen_pointcloud.hpp"

#include <cmath>
#include <cstring>

#include "processing/raw_points.hpp"

namespace TQZ {

namespace {

uint64_t bits_of(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

std::shared_ptr<const module_gen_pointcloud::trig_table> module_gen_pointcloud::make_trig_table(const scene_t& scene)
{
    auto table = std::make_shared<trig_table>(scene.pointcloud.size());
    for (size_t i = 0; i < scene.pointcloud.size(); ++i) {
        const auto& p = scene.pointcloud[i];
        (*table)[i] = {bits_of(p.azimuth), bits_of(p.elevation), std::cos(p.elevation), std::sin(p.elevation),
                       std::cos(p.azimuth), std::sin(p.azimuth)};
    }
    return table;
}

bool module_gen_pointcloud::process(scene_t& scene)
{
    const size_t n = scene.pointcloud.size();
    if (scene.depth.empty() || n == 0 || scene.depth.size() < n || scene.intensity.size() < n) {
        return false;
    }
    std::shared_ptr<const trig_table> table;
    for (auto& slot : tables_) {
        auto candidate = slot.get();
        if (candidate && candidate->size() == n) {
            table = std::move(candidate);
            break;
        }
    }
    if (!table) {
        table = make_trig_table(scene);
        tables_[next_slot_].publish(table);
        next_slot_ = (next_slot_ + 1) % 2;
    }

    const float* depth = scene.depth.data();
    const uint16_t* intensity = scene.intensity.data();
    const direction_trig* trig = table->data();
    size_t stale = 0;
    for (size_t i = 0; i < n; ++i) {
        VELKOR::LidarTQ::point_t& p = scene.pointcloud[i];
        double cos_el, sin_el, cos_az, sin_az;
        if (trig[i].azimuth_bits == bits_of(p.azimuth) && trig[i].elevation_bits == bits_of(p.elevation)) {
            cos_el = trig[i].cos_elevation;
            sin_el = trig[i].sin_elevation;
            cos_az = trig[i].cos_azimuth;
            sin_az = trig[i].sin_azimuth;
        } else {
            cos_el = std::cos(p.elevation);
            sin_el = std::sin(p.elevation);
            cos_az = std::cos(p.azimuth);
            sin_az = std::sin(p.azimuth);
            ++stale;
        }
        place_point(p, depth[i], half_light_speed, cos_el, sin_el, cos_az, sin_az, intensity[i]);
    }
    // The directions have changed (new tables, or a caller's own angles):
    // remember the new ones for the next frame.
    if (stale > 0) {
        for (auto& slot : tables_) {
            auto candidate = slot.get();
            if (candidate == table) {
                slot.publish(make_trig_table(scene));
            }
        }
    }
    return true;
}

}  // namespace TQZ
