#pragma once

#include <cstdint>
#include <span>

namespace marlwood {

// Writes one row of Float32 samples as TIFF's floating-point predictor (Predictor 3) stores it
// before compression: the samples' bytes sorted into four planes, most significant first, each
// plane the row's samples in order, then every byte of the whole 4 x row bytes less the byte
// before it (the first kept). The planes make the slowly changing high bytes of neighbouring
// elevations runs that DEFLATE shrinks well; the result does not depend on the machine's byte
// order. `out` holds 4 bytes a sample.
void predictFloatRow(std::span<const float> row, std::span<std::uint8_t> out);

}  // namespace marlwood
