#include "app_test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumivox::app {
namespace {

    using test::waitUntil;

    // A single-instance name of this test's own, so that a Lumivox window open on this computer,
    // or another run of these tests, neither disturbs the test nor is disturbed by it.
    std::string testInstanceName()
    {
        static int started = 0;
        return "LumivoxTest-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    }

    // The name the programs of the current test are started with.
    std::string instanceName = testInstanceName();

    // True while some process holds the test's single-instance name.
    bool instanceNameHeld()
    {
        const std::string ending = " @" + instanceName;
        std::ifstream sockets("/proc/net/unix");
        std::string line;
        while (std::getline(sockets, line)) {
            if (line.ends_with(ending))
                return true;
        }
        return false;
    }

    QProcessEnvironment programEnvironment()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("LUMIVOX_INSTANCE_NAME"), QString::fromStdString(instanceName));
        return environment;
    }

    void startProgram(QProcess& process, const QStringList& arguments = {})
    {
        process.setProgram(QStringLiteral(LUMIVOX_PROGRAM));
        process.setArguments(arguments);
        if (!process.processEnvironment().contains(QStringLiteral("LUMIVOX_INSTANCE_NAME")))
            process.setProcessEnvironment(programEnvironment());
        process.start();
    }

    class ProgramProcess : public testing::Test {
    protected:
        void SetUp() override { instanceName = testInstanceName(); }
        void TearDown() override
        {
            if (first.state() != QProcess::NotRunning) {
                first.kill();
                first.waitForFinished(10000);
            }
        }
        QProcess first;
    };

    constexpr char alreadyRunning[] = "lumivox: Lumivox is already running on this computer\n";

    TEST_F(ProgramProcess, ASecondStartEndsAtOnceWithZeroAndSaysWhyInOneLine)
    {
        startProgram(first, { "--ignored", "-platform", "nonexistent", "-style", "nonexistent" });
        ASSERT_TRUE(first.waitForStarted(10000));
        ASSERT_TRUE(waitUntil([] { return instanceNameHeld(); }));

        QProcess second;
        startProgram(second);
        ASSERT_TRUE(second.waitForFinished(20000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
        EXPECT_EQ(second.readAllStandardError().toStdString(), alreadyRunning);

        // The first, its arguments ignored, is still running and has printed nothing.
        QTest::qWait(200);
        EXPECT_EQ(first.state(), QProcess::Running);
        EXPECT_TRUE(first.readAllStandardOutput().isEmpty());
        EXPECT_TRUE(first.readAllStandardError().isEmpty());
    }

    // Any process holding the name, not only a first Lumivox, keeps the program from starting;
    // the line says why.
    TEST_F(ProgramProcess, ANameHeldByAnotherProgramAlsoGetsTheLine)
    {
        const int holder = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const std::string name = instanceName;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const auto length
            = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), length), 0);

        QProcess second;
        startProgram(second);
        ASSERT_TRUE(second.waitForFinished(20000));
        ::close(holder);
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(second.readAllStandardError().toStdString(), alreadyRunning);
    }

    TEST_F(ProgramProcess, StartsNormallyAgainAfterTheFirstWasKilled)
    {
        startProgram(first);
        ASSERT_TRUE(first.waitForStarted(10000));
        ASSERT_TRUE(waitUntil([] { return instanceNameHeld(); }));
        first.kill();
        ASSERT_TRUE(first.waitForFinished(10000));
        EXPECT_FALSE(instanceNameHeld());

        startProgram(first);
        ASSERT_TRUE(first.waitForStarted(10000));
        EXPECT_TRUE(waitUntil([] { return instanceNameHeld(); }));
        QTest::qWait(200);
        EXPECT_EQ(first.state(), QProcess::Running);
    }

    TEST_F(ProgramProcess, WithoutADisplayItEndsWithOneAndPointsToTheCommandLine)
    {
        QProcess process;
        QProcessEnvironment environment = programEnvironment();
        for (const char* variable : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(variable);
        process.setProcessEnvironment(environment);
        startProgram(process);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        const QString message = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(message.count('\n'), 1);
        EXPECT_TRUE(message.contains("lumivox-cli"));
        EXPECT_FALSE(instanceNameHeld());
    }

    // A display that names no server: one line and exit status 1, not Qt's abort and advice.
    TEST_F(ProgramProcess, ADeadDisplayGivesOneLineAndExitsOne)
    {
        int number = 99;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        const QString display = QStringLiteral(":%1").arg(number);
        QProcess process;
        QProcessEnvironment environment = programEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(environment);
        startProgram(process);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()),
            QStringLiteral("lumivox: cannot connect to display %1\n").arg(display));
        EXPECT_FALSE(instanceNameHeld());
    }

    // Asked for its usage or version, the program prints it and ends with 0 at once: no window,
    // no single-instance check (a window already open does not stop the answer), no display.
    // The usage's first line and its pointer to the command line.
    const std::string usage = "Usage: lumivox [--help | --version]\n";
    const std::string cliPointer = "use lumivox-cli (lumivox-cli --help)";

    struct InformationCase {
        const char* name;
        QStringList arguments;
        std::string printed;
    };

    class ProgramInformation : public testing::TestWithParam<InformationCase> { };

    TEST_P(ProgramInformation, IsPrintedWithoutAWindow)
    {
        instanceName = testInstanceName();
        const int holder = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, instanceName.data(), instanceName.size());
        const auto length
            = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + instanceName.size());
        ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), length), 0);

        QProcess process;
        QProcessEnvironment environment = programEnvironment();
        for (const char* variable : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(variable);
        process.setProcessEnvironment(environment);
        startProgram(process, GetParam().arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        ::close(holder);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        const std::string printed = process.readAllStandardOutput().toStdString();
        EXPECT_TRUE(printed.starts_with(GetParam().printed)) << printed;
        EXPECT_EQ(printed.find(cliPointer) != std::string::npos, GetParam().printed == usage);
        if (GetParam().printed != usage) {
            EXPECT_EQ(printed, GetParam().printed);
        }
        EXPECT_TRUE(process.readAllStandardError().isEmpty());
    }

    INSTANTIATE_TEST_SUITE_P(Requests, ProgramInformation,
        testing::Values(InformationCase { "Help", { "--help" }, usage },
            InformationCase { "ShortHelp", { "-h" }, usage },
            InformationCase {
                "HelpAfterIgnoredArguments", { "--ignored", "x.wav", "--help" }, usage },
            InformationCase { "Version", { "--version" }, "Lumivox 1.0.0\n" }),
        [](const testing::TestParamInfo<InformationCase>& c) { return std::string(c.param.name); });

    // Something other than a regular file where the settings are kept: the window still opens,
    // with its defaults, says why once, and leaves that thing as it was when it ends.
    TEST_F(ProgramProcess, ASettingsFileThatIsAFifoIsPassedOverWithOneLine)
    {
        const QTemporaryDir config;
        ASSERT_TRUE(config.isValid());
        ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("Lumivox")));
        const QString settingsPath = config.filePath(QStringLiteral("Lumivox/lumivox.conf"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(settingsPath).constData(), 0600), 0);
        QProcessEnvironment environment = programEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        first.setProcessEnvironment(environment);
        startProgram(first);
        ASSERT_TRUE(first.waitForStarted(10000));
        const QString expected = QStringLiteral(
            "lumivox: %1 is not a regular file; the window starts with its defaults and keeps "
            "nothing for the next start\n")
                                     .arg(settingsPath);
        QString printed;
        EXPECT_TRUE(waitUntil([&] {
            printed += QString::fromUtf8(first.readAllStandardError());
            return printed.size() >= expected.size();
        })) << printed.toStdString();
        // The window is up and serving its event loop: SIGTERM ends it as the close button does.
        ASSERT_TRUE(waitUntil([] { return instanceNameHeld(); }));
        QTest::qWait(300);
        first.terminate();
        ASSERT_TRUE(first.waitForFinished(20000));
        EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first.exitCode(), 0);
        printed += QString::fromUtf8(first.readAllStandardError());
        EXPECT_EQ(printed, expected);
        struct stat settingsFile { };
        ASSERT_EQ(::stat(QFile::encodeName(settingsPath).constData(), &settingsFile), 0);
        EXPECT_TRUE(S_ISFIFO(settingsFile.st_mode));
    }

} // namespace
} // namespace lumivox::app
