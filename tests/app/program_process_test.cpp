#include "app_test_support.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumivox::app {
namespace {

    using test::waitUntil;

    // True while some process holds the program's single-instance name.
    bool instanceNameHeld()
    {
        std::ifstream sockets("/proc/net/unix");
        std::string line;
        while (std::getline(sockets, line)) {
            if (line.size() >= 11 && line.compare(line.size() - 11, 11, " @Lumivox10") == 0)
                return true;
        }
        return false;
    }

    void startProgram(QProcess& process, const QStringList& arguments = {})
    {
        process.setProgram(QStringLiteral(LUMIVOX_PROGRAM));
        process.setArguments(arguments);
        process.start();
    }

    class ProgramProcess : public testing::Test {
    protected:
        void SetUp() override
        {
            if (instanceNameHeld())
                GTEST_SKIP() << "another Lumivox is running on this machine";
        }
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
        const std::string name = "Lumivox10";
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
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

} // namespace
} // namespace lumivox::app
