// Prints where the window's controls are, in window coordinates, for the real-window tests:
// "<id> <centre x> <centre y>" per control. It runs under the same display and fonts as the
// program, so the places match the window it checks.
//   --least-size  prints the window's least size instead: "<width> <height>"
#include "control_ids.h"
#include "main_window.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    const bool leastSize = argc > 1 && std::strcmp(argv[1], "--least-size") == 0;
    static char programName[] = "lumivox_window_probe";
    static char* arguments[] = { programName, nullptr };
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    const lumivox::app::MainWindow window;
    if (leastSize) {
        std::printf("%d %d\n", window.minimumWidth(), window.minimumHeight());
        return 0;
    }
    for (int controlId = 0; controlId < lumivox::app::control::count; ++controlId) {
        if (const QWidget* control = window.control(controlId)) {
            const QPoint centre = control->geometry().center();
            std::printf("%d %d %d\n", controlId, centre.x(), centre.y());
        }
    }
    return 0;
}
