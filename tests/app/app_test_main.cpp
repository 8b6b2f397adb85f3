// The window tests need one QApplication for the whole run, made before any test. They run without
// a display and with a silent audio device, also when started by hand or for test discovery.
#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("ALSA_CONFIG_PATH"))
        qputenv("ALSA_CONFIG_PATH", LUMIVOX_TEST_ALSA_CONFIG);
    static char programName[] = "lumivox_app_tests";
    static char* qtArguments[] = { programName, nullptr };
    int qtArgumentCount = 1;
    QApplication application(qtArgumentCount, qtArguments);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
