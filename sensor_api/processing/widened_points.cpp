#include "processing/widened_points.hpp"

#if defined(__x86_64__) && !defined(VELKOR_NO_CPU_DISPATCH)
#define VELKOR_AVX2_WRITER 1
#include <immintrin.h>
#endif

namespace TQZ {

namespace {

using point_t = VELKOR::LidarTQ::point_t;
constexpr size_t kLanes = direction_group::kLanes;

void write_columns(const widened_columns& row, size_t from, size_t to, float light, point_t* out)
{
    for (size_t c = from; c < to; ++c) {
        const direction_group& group = row.directions[c / kLanes];
        const size_t lane = c % kLanes;
        for (size_t k = 0; k < widened_columns::kKinds; ++k) {
            const double cos_azimuth = group.trig[k][0][lane];
            const double sin_azimuth = group.trig[k][1][lane];
            const double cos_elevation = group.trig[k][2][lane];
            const double sin_elevation = group.trig[k][3][lane];
            const double d = static_cast<double>(row.depth[k][c] * light);
            point_t& p = *out++;
            if (k == 1) {
                const point_t& measured = row.measured[c];
                p.spare = measured.spare;
                p.azimuth = measured.azimuth;
                p.elevation = measured.elevation;
            } else {
                const size_t side = k == 0 ? 0 : 1;
                p.spare = 0.0;
                p.azimuth = static_cast<double>(group.inserted[side][0][lane]);
                p.elevation = static_cast<double>(group.inserted[side][1][lane]);
            }
            p.x = (cos_elevation * d) * cos_azimuth;
            p.y = (cos_elevation * d) * sin_azimuth;
            p.z = sin_elevation * d;
            p.intensity = static_cast<double>(row.intensity[k][c]);
        }
    }
}

}  // namespace

void write_widened_points_portable(const widened_columns& row, size_t cols, float light, point_t* out)
{
    write_columns(row, 0, cols, light, out);
}

#if defined(VELKOR_AVX2_WRITER)

namespace {

// Writes four points of one kind, columns c..c+3, each as two 32-byte
// stores: (spare, azimuth, elevation, -) at the start of the record and
// (x, y, z, intensity) over its last 32 bytes, in that order, so the second
// replaces the don't-care lane of the first and no store reaches another
// record.
__attribute__((target("avx2"))) inline void write_four(const widened_columns& row, const direction_group& group,
                                                        size_t k, size_t c, __m128 light, double* out)
{
    const __m256d cos_azimuth = _mm256_loadu_pd(group.trig[k][0]);
    const __m256d sin_azimuth = _mm256_loadu_pd(group.trig[k][1]);
    const __m256d cos_elevation = _mm256_loadu_pd(group.trig[k][2]);
    const __m256d sin_elevation = _mm256_loadu_pd(group.trig[k][3]);
    // The product rounds in 32 bits first, as the scalar expression does.
    const __m256d d = _mm256_cvtps_pd(_mm_mul_ps(_mm_loadu_ps(row.depth[k] + c), light));
    const __m256d horizontal = _mm256_mul_pd(cos_elevation, d);
    const __m256d x = _mm256_mul_pd(horizontal, cos_azimuth);
    const __m256d y = _mm256_mul_pd(horizontal, sin_azimuth);
    const __m256d z = _mm256_mul_pd(sin_elevation, d);
    const __m128i raw_intensity = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.intensity[k] + c));
    const __m256d intensity = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(raw_intensity));

    // (x, y, z, intensity) of each point: a 4 x 4 transpose.
    const __m256d xy_even = _mm256_unpacklo_pd(x, y);          // x0 y0 x2 y2
    const __m256d xy_odd = _mm256_unpackhi_pd(x, y);           // x1 y1 x3 y3
    const __m256d zi_even = _mm256_unpacklo_pd(z, intensity);  // z0 i0 z2 i2
    const __m256d zi_odd = _mm256_unpackhi_pd(z, intensity);   // z1 i1 z3 i3
    __m256d tail[4];
    tail[0] = _mm256_permute2f128_pd(xy_even, zi_even, 0x20);
    tail[1] = _mm256_permute2f128_pd(xy_odd, zi_odd, 0x20);
    tail[2] = _mm256_permute2f128_pd(xy_even, zi_even, 0x31);
    tail[3] = _mm256_permute2f128_pd(xy_odd, zi_odd, 0x31);

    __m256d head[4];
    if (k == 1) {
        // A measured point keeps the first three fields of its old record.
        const double* old = reinterpret_cast<const double*>(row.measured + c);
        head[0] = _mm256_loadu_pd(old);
        head[1] = _mm256_loadu_pd(old + 7);
        head[2] = _mm256_loadu_pd(old + 14);
        head[3] = _mm256_loadu_pd(old + 21);
    } else {
        // An inserted point: spare 0 and its 32-bit direction widened.
        const size_t side = k == 0 ? 0 : 1;
        const __m256d zero = _mm256_setzero_pd();
        const __m256d azimuth = _mm256_cvtps_pd(_mm_loadu_ps(group.inserted[side][0]));
        const __m256d elevation = _mm256_cvtps_pd(_mm_loadu_ps(group.inserted[side][1]));
        const __m256d sa_even = _mm256_unpacklo_pd(zero, azimuth);        // 0 a0 0 a2
        const __m256d sa_odd = _mm256_unpackhi_pd(zero, azimuth);         // 0 a1 0 a3
        const __m256d e_even = _mm256_unpacklo_pd(elevation, elevation);  // e0 e0 e2 e2
        const __m256d e_odd = _mm256_unpackhi_pd(elevation, elevation);   // e1 e1 e3 e3
        head[0] = _mm256_permute2f128_pd(sa_even, e_even, 0x20);
        head[1] = _mm256_permute2f128_pd(sa_odd, e_odd, 0x20);
        head[2] = _mm256_permute2f128_pd(sa_even, e_even, 0x31);
        head[3] = _mm256_permute2f128_pd(sa_odd, e_odd, 0x31);
    }
    // Record i of the four is 3 * i records (21 doubles) after the first.
    for (int i = 0; i < 4; ++i) {
        _mm256_storeu_pd(out + 21 * i, head[i]);
        _mm256_storeu_pd(out + 21 * i + 3, tail[i]);
    }
}

__attribute__((target("avx2"))) void write_avx2(const widened_columns& row, size_t cols, float light, point_t* out)
{
    const __m128 light4 = _mm_set1_ps(light);
    const size_t whole = cols / kLanes;
    for (size_t g = 0; g < whole; ++g) {
        const direction_group& group = row.directions[g];
        const size_t c = g * kLanes;
        double* o = reinterpret_cast<double*>(out + 3 * c);
        write_four(row, group, 0, c, light4, o);
        write_four(row, group, 1, c, light4, o + 7);
        write_four(row, group, 2, c, light4, o + 14);
    }
    write_columns(row, whole * kLanes, cols, light, out + 3 * whole * kLanes);
}

bool has_avx2()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

}  // namespace

bool write_widened_points_avx2(const widened_columns& row, size_t cols, float light, point_t* out)
{
    if (!has_avx2()) {
        return false;
    }
    write_avx2(row, cols, light, out);
    return true;
}

#else

bool write_widened_points_avx2(const widened_columns&, size_t, float, point_t*) { return false; }

#endif

void write_widened_points(const widened_columns& row, size_t cols, float light, point_t* out)
{
    if (!write_widened_points_avx2(row, cols, light, out)) {
        write_widened_points_portable(row, cols, light, out);
    }
}

}  // namespace TQZ
