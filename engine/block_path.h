#pragma once

#include <span>
#include <vector>

namespace lumivox::engine {

class VocoderEngine;

// The instruction sets the block path has a body for. Every one gives the same bits.
enum class VectorUnit { Portable, Sse2, Avx2, Avx512 };

const char* vectorUnitName(VectorUnit unit);

// The units this machine can run, the portable one first and the widest last.
std::vector<VectorUnit> vectorUnitsOfThisMachine();

// The widest unit this machine can run; chosen once.
VectorUnit preferredVectorUnit();

// processBlock on a chosen unit, for tests and benchmarks. The unit must be one this machine runs.
void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output);

} // namespace lumivox::engine
