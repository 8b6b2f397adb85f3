// Prints where the window's controls are, in window coordinates, for the real-window test:
// "<id> <centre x> <centre y>" per control. It runs under the same display and fonts as the
// program, so the places match the window it checks.
#include "main_window.h"

#include <QApplication>
#include <cstdio>

int main()
{
    static char programName[] = "lumivox_window_probe";
    static char* arguments[] = { programName, nullptr };
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    const lumivox::app::MainWindow window;
    for (int controlId = 0; controlId < 22; ++controlId) {
        if (const QWidget* control = window.control(controlId)) {
            const QPoint centre = control->geometry().center();
            std::printf("%d %d %d\n", controlId, centre.x(), centre.y());
        }
    }
    return 0;
}
