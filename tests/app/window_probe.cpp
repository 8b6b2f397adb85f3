// Prints where the window's controls are, in window coordinates, for the real-window tests:
// "<id> <centre x> <centre y>" per control. It runs under the same display and fonts as the
// program, so the places match the window it checks.
//   --meter         prints the band meter panel instead: "<x> <y> <width> <height>"
//   --block-levels  prints 1 when the engine's block path (the one the job runs) reports band
//                   levels, else 0: only then can a running job light the meters
#include "band_meter.h"
#include "engine/vocoder_engine.h"
#include "main_window.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
bool blockPathReportsLevels()
{
    lumivox::engine::VocoderEngine engine;
    std::vector<double> carrier(4096), modulator(4096), output(4096);
    for (std::size_t i = 0; i < carrier.size(); ++i) {
        carrier[i] = (i % 50 < 25) ? 8000.0 : -8000.0;
        modulator[i] = (i % 37 < 18) ? 0.5 : -0.5;
    }
    engine.processBlock(carrier, modulator, output);
    const auto levels = engine.bandLevels();
    return std::any_of(levels.begin(), levels.end(), [](double level) { return level > 0.0; });
}
}

int main(int argc, char** argv)
{
    const bool meter = argc > 1 && std::strcmp(argv[1], "--meter") == 0;
    if (argc > 1 && std::strcmp(argv[1], "--block-levels") == 0) {
        std::printf("%d\n", blockPathReportsLevels() ? 1 : 0);
        return 0;
    }
    static char programName[] = "lumivox_window_probe";
    static char* arguments[] = { programName, nullptr };
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    const lumivox::app::MainWindow window;
    if (meter) {
        const QRect panel = window.bandMeter()->geometry();
        std::printf("%d %d %d %d\n", panel.x(), panel.y(), panel.width(), panel.height());
        return 0;
    }
    for (int controlId = 0; controlId < 22; ++controlId) {
        if (const QWidget* control = window.control(controlId)) {
            const QPoint centre = control->geometry().center();
            std::printf("%d %d %d\n", controlId, centre.x(), centre.y());
        }
    }
    return 0;
}
