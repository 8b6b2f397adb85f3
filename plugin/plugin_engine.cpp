#include "plugin_engine.h"

#include <algorithm>
#include <cmath>

namespace lumivox::plugin {

namespace {

    double position(float value)
    {
        if (!(value >= 0.0F)) // below 0, and not a number
            return 0.0;
        return static_cast<double>(std::min(value, 100.0F));
    }

} // namespace

float towardZero(double v)
{
    float rounded = static_cast<float>(v);
    if (std::fabs(static_cast<double>(rounded)) > std::fabs(v))
        rounded = std::nextafter(rounded, 0.0F);
    return rounded;
}

PluginEngine::PluginEngine(double sampleRate)
    : speechBands(
        engine::designBands({ engine::LayoutKind::Speech, engine::speechBandCount, {} }, sampleRate)
            .value_or(engine::DesignedBands { engine::BandLayout::classic(), 1.0 }))
    , speechEngine(speechBands.bands)
    , carrierValues(std::make_unique<double[]>(pieceFrames))
    , modulatorValues(std::make_unique<double[]>(pieceFrames))
    , results(std::make_unique<double[]>(pieceFrames))
    , rate(sampleRate)
{
    // The same settings as a run with the sliders at their defaults.
    engine.setClearance(position(applied.clearance) / 100.0);
    engine.setVagueness(position(applied.vagueness) / 100.0);
    engine.setOutputGain(position(applied.gain) / 50.0);
    engine.setClarity(position(applied.clarity) / 100.0);
    speechEngine.setClearance(position(applied.clearance) / 100.0);
    speechEngine.setVagueness(position(applied.vagueness) / 100.0);
    speechEngine.setOutputGain(position(applied.gain) / 50.0 * speechBands.levelGain);
    speechEngine.setClarity(position(applied.clarity) / 100.0);
}

void PluginEngine::chooseBands(float port) { speechChosen = port >= 0.5F; }

void PluginEngine::apply(const SliderPositions& positions)
{
    // Only changed values reach the engine: a change of Clarity from 0 starts its filters afresh.
    if (positions.clearance != applied.clearance) {
        engine.setClearance(position(positions.clearance) / 100.0);
        speechEngine.setClearance(position(positions.clearance) / 100.0);
    }
    if (positions.vagueness != applied.vagueness) {
        engine.setVagueness(position(positions.vagueness) / 100.0);
        speechEngine.setVagueness(position(positions.vagueness) / 100.0);
    }
    if (positions.gain != applied.gain) {
        engine.setOutputGain(position(positions.gain) / 50.0);
        speechEngine.setOutputGain(position(positions.gain) / 50.0 * speechBands.levelGain);
    }
    if (positions.clarity != applied.clarity) {
        engine.setClarity(position(positions.clarity) / 100.0);
        speechEngine.setClarity(position(positions.clarity) / 100.0);
    }
    applied = positions;
}

void PluginEngine::process(
    const float* carrier, const float* modulator, float* output, std::size_t frameCount)
{
    for (std::size_t start = 0; start < frameCount; start += pieceFrames) {
        const std::size_t frames = std::min(pieceFrames, frameCount - start);
        for (std::size_t t = 0; t < frames; ++t) {
            carrierValues[t] = static_cast<double>(carrier[start + t]) * hostFullScale;
            // The 16-bit sample, exactly, divided as the program divides it.
            modulatorValues[t]
                = static_cast<double>(modulator[start + t]) * hostFullScale / modulatorFullScale;
        }
        (speechChosen ? speechEngine : engine)
            .processBlock(std::span<const double>(carrierValues.get(), frames),
                std::span<const double>(modulatorValues.get(), frames),
                std::span<double>(results.get(), frames));
        for (std::size_t t = 0; t < frames; ++t)
            output[start + t] = towardZero(results[t] / hostFullScale);
    }
}

} // namespace lumivox::plugin
