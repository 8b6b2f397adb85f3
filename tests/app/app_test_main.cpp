// The window tests need one QApplication for the whole run, made before any test. They run without
// a display and with a silent audio device, also when started by hand or for test discovery.
// Settings go to a folder of their own, never to the user's.
#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsFolder.path()));
    if (qEnvironmentVariableIsEmpty("ALSA_CONFIG_PATH"))
        qputenv("ALSA_CONFIG_PATH", LUMIVOX_TEST_ALSA_CONFIG);
    static char programName[] = "lumivox_app_tests";
    static char* qtArguments[] = { programName, nullptr };
    int qtArgumentCount = 1;
    QApplication application(qtArgumentCount, qtArguments);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
