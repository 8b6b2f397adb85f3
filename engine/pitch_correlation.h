#pragma once

namespace lumivox::engine {

enum class VectorUnit; // block_path.h

// The pitch tracker's correlations of a window with itself shifted: out[lag - 1] for every lag
// from 1 to lags is the sum over j from 0 to window - 1 of samples[j] * samples[j + lag], summed
// from 0.0 in the order of j. The lags go side by side in vector lanes, each lane summing in that
// one order, so every unit gives the same bits. It reads samples up to
// window + lags + pitchCorrelationOverrun - 1 (what lies past window + lags only reaches lags
// beyond those asked for) and writes out up to lags + pitchCorrelationOverrun values.
using PitchCorrelation = void (*)(const double* samples, int window, int lags, double* out);

inline constexpr int pitchCorrelationOverrun = 64;

// The correlation on a unit; one this machine cannot run is taken as the portable one.
PitchCorrelation pitchCorrelationFor(VectorUnit unit);

} // namespace lumivox::engine
