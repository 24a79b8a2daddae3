#include "grid/height_scaling.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marlwood {

// One row of scaleElevation. Where SSE2 is there (every x86-64) four cells go at a time through
// the same double-precision product, sum and truncation, so the results are the same bits; the
// scalar loop's int-double conversions would otherwise cost more than decoding the cells.
void scaleRow(const std::int32_t* from, std::int32_t* to, std::int32_t columns, float slope,
              float intercept) {
    std::int32_t j = 0;
#if defined(__SSE2__)
    const __m128d s = _mm_set1_pd(static_cast<double>(slope));
    const __m128d b = _mm_set1_pd(static_cast<double>(intercept));
    const __m128i first_valid = _mm_set1_epi32(kVoidThreshold + 1);
    const __m128i marker = _mm_set1_epi32(kVoidMarker);
    for (; j + 4 <= columns; j += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + j));
        const __m128d low = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(v), s), b);
        const __m128d high =
            _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0x4E)), s), b);
        const __m128i scaled = _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
        const __m128i is_void = _mm_cmplt_epi32(v, first_valid);
        const __m128i cells =
            _mm_or_si128(_mm_and_si128(is_void, marker), _mm_andnot_si128(is_void, scaled));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + j), cells);
    }
#endif
    for (; j < columns; ++j) to[j] = scaleElevation(from[j], slope, intercept);
}

Colormap computeColormap(std::int32_t max_elevation, std::int32_t min_elevation) {
    Colormap map;
    map.elevrange = max_elevation - min_elevation;
    if (map.elevrange != 0) {
        const double q = kColormapTop / map.elevrange;
        map.colormap_slope = static_cast<float>(q);
        map.colormap_intercept = static_cast<float>(kColormapTop - max_elevation * q);
    }
    return map;
}

}  // namespace marlwood
