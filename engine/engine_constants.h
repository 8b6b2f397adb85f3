#pragma once

namespace lumivox::engine {

// The shape of the bank and the scale of its levels, the same for every path through the engine.
inline constexpr int bandCount = 32;
inline constexpr int bandSectionCount = 5; // second-order sections per band-pass cascade
inline constexpr int envelopeSectionCount = 2; // second-order sections per envelope low-pass
inline constexpr int maxSpread = 14; // the farthest neighbour Vagueness can weight, in bands

// Band levels are scaled by one thousandth of 32767, not by 32767.
inline constexpr double levelScale = 32.767;

} // namespace lumivox::engine
