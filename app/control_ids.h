#pragma once

namespace lumivox::app {

// Ids of the main window's controls, shared by the job and every front end.
namespace control {
    inline constexpr int notice = 17;
    inline constexpr int carrierLabel = 0;
    inline constexpr int carrierPath = 1;
    inline constexpr int carrierBrowse = 2;
    inline constexpr int modulatorLabel = 3;
    inline constexpr int modulatorPath = 4;
    inline constexpr int modulatorBrowse = 5;
    inline constexpr int outputLabel = 6;
    inline constexpr int outputPath = 7;
    inline constexpr int outputBrowse = 8;
    inline constexpr int clearanceLabel = 9;
    inline constexpr int clearanceSlider = 10;
    inline constexpr int vaguenessLabel = 11;
    inline constexpr int vaguenessSlider = 12;
    inline constexpr int gainLabel = 13;
    inline constexpr int gainSlider = 14;
    inline constexpr int vocodeButton = 15;
    inline constexpr int previewButton = 16;
    inline constexpr int aboutButton = 20;
    inline constexpr int progressBar = 21;
    inline constexpr int carrierKind = 18;
    inline constexpr int chordRoot = 19;
    inline constexpr int chordType = 22;
    inline constexpr int followInterval = 23;
    inline constexpr int repeatCarrier = 24;
    inline constexpr int carrierSoundLabel = 25;
    inline constexpr int clarityLabel = 26;
    inline constexpr int claritySlider = 27;
    inline constexpr int normalize = 28;
    inline constexpr int liveButton = 29;
    inline constexpr int recordLive = 30;
    inline constexpr int bandsLabel = 31;
    inline constexpr int bandsKind = 32;
    inline constexpr int bandCount = 33;
    inline constexpr int bandLowHz = 34;
    inline constexpr int bandHighHz = 35;
    inline constexpr int count = 36; // every id is below this
} // namespace control

} // namespace lumivox::app
