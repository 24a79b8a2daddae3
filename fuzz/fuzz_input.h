// How one fuzz input is cut into the pieces of a conversion, shared by the conversion target and
// the seed writer so the two always agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marlwood::fuzz {

// The typed height-scale line, then LDEF, SPDM, DDSH, IREF and CEL0, joined by this marker. Six
// bytes that no module holds, so mutations inside a module rarely move the cuts. CEL0 comes last:
// an input cut at the fuzzer's length limit loses elevations, never a metadata module.
inline constexpr std::string_view kSeparator = "#@MW@#";

inline constexpr std::size_t kPieceCount = 6;
inline constexpr std::array<std::string_view, kPieceCount - 1> kModuleSuffixes = {
    "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf", "cel0.ddf"};

// Pieces missing from the input are empty; the last piece keeps any further markers.
inline std::array<std::string_view, kPieceCount> splitInput(std::string_view input) {
    std::array<std::string_view, kPieceCount> pieces{};
    for (std::size_t i = 0; i < kPieceCount; ++i) {
        const std::size_t cut = i + 1 < kPieceCount ? input.find(kSeparator) : input.npos;
        pieces[i] = input.substr(0, cut);
        if (cut == input.npos) break;
        input.remove_prefix(cut + kSeparator.size());
    }
    return pieces;
}

inline std::string joinInput(const std::array<std::string, kPieceCount>& pieces) {
    std::string input = pieces[0];
    for (std::size_t i = 1; i < kPieceCount; ++i) {
        input += kSeparator;
        input += pieces[i];
    }
    return input;
}

// The decodeRow target: a value-type selector, two bytes of column count, a lead byte (the
// records begin 2 x lead bytes before a block boundary), then a CEL0 module.
inline constexpr std::size_t kDecodeHeaderSize = 4;

}  // namespace marlwood::fuzz
