#pragma once

#include "engine/layout_choice.h"
#include "job_settings.h"

#include <memory>

namespace lumivox::engine {
class VocoderEngine;
}

namespace lumivox::job {

// The engine a Vocode, a Preview or a live run drives: built for the bands designed at the run's
// rate (the classic bands by their own table). May throw std::bad_alloc.
[[nodiscard]] std::unique_ptr<engine::VocoderEngine> makeRunEngine(
    const engine::DesignedBands& bands);

// A carrier that follows the voice must not be filtered down to the voice's own harmonics: the
// engine blurs the bands narrower than them.
void followTheVoice(engine::VocoderEngine& engine);

// The sliders' positions (0 to 100) as the engine takes them; levelGain is the layout's.
void applySound(engine::VocoderEngine& engine, const SoundSettings& sound, double levelGain);

} // namespace lumivox::job
