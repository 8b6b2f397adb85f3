#include "engine_stages.h"

#include "engine/follow_voice_sound.h"
#include "engine/vocoder_engine.h"

#include <algorithm>

namespace lumivox::job {

std::unique_ptr<engine::VocoderEngine> makeRunEngine(const engine::DesignedBands& bands)
{
    if (bands.bands.isClassic())
        return std::make_unique<engine::VocoderEngine>();
    return std::make_unique<engine::VocoderEngine>(bands.bands);
}

void followTheVoice(engine::VocoderEngine& engine)
{
    engine.setHarmonicBandBlur(engine::FollowVoiceSound::harmonicBandBlur);
}

void applySound(engine::VocoderEngine& engine, const SoundSettings& sound, double levelGain)
{
    const auto position = [](int value) { return static_cast<double>(std::clamp(value, 0, 100)); };
    engine.setClearance(position(sound.clearance) / 100.0);
    engine.setVagueness(position(sound.vagueness) / 100.0);
    engine.setOutputGain(position(sound.gain) / 50.0 * levelGain);
    engine.setClarity(position(sound.clarity) / 100.0);
}

} // namespace lumivox::job
