#include "dialog_template.h"

#include "control_ids.h"

namespace lumivox::app {

namespace {
    namespace id = app::control;
    using enum ControlRole;

    constexpr auto controls = std::to_array<ControlTemplate>({
        { id::notice, Label, "Drop wave files onto the path boxes." },
        { id::carrierLabel, Label, "Carrier File" },
        { id::carrierKind, DropDown, "" },
        { id::carrierPath, PathEdit, "" },
        { id::carrierBrowse, PushButton, "Browse..." },
        { id::repeatCarrier, CheckBox, "Repeat carrier to the voice's length" },
        { id::carrierSoundLabel, Label, "Carrier Sound" },
        { id::chordRoot, DropDown, "" },
        { id::chordType, DropDown, "" },
        { id::followInterval, NumberBox, "" },
        { id::bandsLabel, Label, "Bands" },
        { id::bandsKind, DropDown, "" },
        { id::bandCount, NumberBox, "" },
        { id::bandLowHz, NumberBox, "" },
        { id::bandHighHz, NumberBox, "" },
        { id::modulatorLabel, Label, "Modulator File" },
        { id::modulatorPath, PathEdit, "" },
        { id::modulatorBrowse, PushButton, "Browse..." },
        { id::outputLabel, Label, "Output File" },
        { id::outputPath, PathEdit, "" },
        { id::outputBrowse, PushButton, "Browse..." },
        { id::clearanceLabel, Label, "Instrument Clearance" },
        { id::clearanceSlider, Slider, "" },
        { id::vaguenessLabel, Label, "Vagueness" },
        { id::vaguenessSlider, Slider, "" },
        { id::gainLabel, Label, "Output Gain" },
        { id::gainSlider, Slider, "" },
        { id::normalize, CheckBox, "Normalize" },
        { id::clarityLabel, Label, "Clarity" },
        { id::claritySlider, Slider, "" },
        { id::vocodeButton, PushButton, "Vocode" },
        { id::previewButton, PushButton, "Preview" },
        { id::liveButton, PushButton, "Live" },
        { id::recordLive, CheckBox, "Record" },
        { id::aboutButton, PushButton, "About" },
        { id::progressBar, ProgressBar, "" },
    });
    static_assert(controls.size() == 36);

    constexpr int none = noControl;
    constexpr auto rows = std::to_array<GridRow>({
        { id::carrierLabel, { id::carrierKind, id::carrierPath, none, none }, id::carrierBrowse },
        { none, { id::repeatCarrier, none, none, none }, none },
        { id::carrierSoundLabel, { id::chordRoot, id::chordType, id::followInterval, none }, none },
        { id::bandsLabel, { id::bandsKind, id::bandCount, id::bandLowHz, id::bandHighHz }, none },
        { id::modulatorLabel, { id::modulatorPath, none, none, none }, id::modulatorBrowse },
        { id::outputLabel, { id::outputPath, none, none, none }, id::outputBrowse },
        { id::clearanceLabel, { id::clearanceSlider, none, none, none }, none },
        { id::vaguenessLabel, { id::vaguenessSlider, none, none, none }, none },
        { id::gainLabel, { id::gainSlider, id::normalize, none, none }, none },
        { id::clarityLabel, { id::claritySlider, none, none, none }, none },
        { none, { id::vocodeButton, id::previewButton, id::liveButton, id::recordLive },
            id::aboutButton },
    });
}

std::span<const ControlTemplate> dialogTemplate() { return controls; }

std::span<const GridRow> gridRows() { return rows; }

} // namespace lumivox::app
