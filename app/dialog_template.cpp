#include "dialog_template.h"

#include "control_ids.h"

#include <array>

namespace lumivox::app {

namespace {
    namespace id = app::control;
    using enum ControlRole;

    constexpr auto controls = std::to_array<ControlTemplate>({
        { id::notice, Label, "Drop wave files onto the path boxes.", 2, 250, 102, 9 },
        { id::carrierLabel, Label, "Carrier File", 6, 7, 35, 8 },
        { id::carrierPath, PathEdit, "", 79, 5, 267, 14 },
        { id::carrierBrowse, PushButton, "Browse...", 354, 5, 53, 14 },
        { id::modulatorLabel, Label, "Modulator File", 6, 27, 46, 8 },
        { id::modulatorPath, PathEdit, "", 80, 24, 267, 14 },
        { id::modulatorBrowse, PushButton, "Browse...", 354, 24, 53, 14 },
        { id::outputLabel, Label, "Output File", 7, 47, 35, 8 },
        { id::outputPath, PathEdit, "", 80, 44, 267, 14 },
        { id::outputBrowse, PushButton, "Browse...", 353, 43, 53, 14 },
        { id::clearanceLabel, Label, "Instrument Clearance", 8, 81, 67, 8 },
        { id::clearanceSlider, Slider, "", 85, 76, 291, 17 },
        { id::vaguenessLabel, Label, "Vagueness", 8, 99, 37, 8 },
        { id::vaguenessSlider, Slider, "", 85, 95, 291, 22 },
        { id::gainLabel, Label, "Output Gain", 8, 119, 39, 8 },
        { id::gainSlider, Slider, "", 85, 114, 292, 22 },
        { id::vocodeButton, PushButton, "Vocode", 83, 151, 103, 22 },
        { id::previewButton, PushButton, "Preview", 229, 151, 103, 22 },
        { id::aboutButton, PushButton, "About", 314, 218, 50, 14 },
        { id::progressBar, ProgressBar, "", 13, 188, 393, 15 },
    });
    static_assert(controls.size() == 20);
}

std::span<const ControlTemplate> dialogTemplate() { return controls; }

} // namespace lumivox::app
