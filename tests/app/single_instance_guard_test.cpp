#include "single_instance_guard.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace lumivox::app {
namespace {

    // A name of this test run's own, so a running Lumivox is not disturbed.
    std::string testName(const char* purpose)
    {
        return "LumivoxTest-" + std::to_string(getpid()) + "-" + purpose;
    }

    std::string readFirstLine(const std::string& path)
    {
        std::ifstream file(path);
        std::string line;
        std::getline(file, line);
        return line;
    }

    TEST(SingleInstanceGuard, TheFirstHolderKeepsOthersOutUntilItEnds)
    {
        const std::string name = testName("first");
        {
            const SingleInstanceGuard first(name);
            EXPECT_TRUE(first.holdsName());
            EXPECT_FALSE(first.anotherInstanceRunning());
            const SingleInstanceGuard second(name);
            EXPECT_TRUE(second.anotherInstanceRunning());
            EXPECT_FALSE(second.holdsName());
        }
        const SingleInstanceGuard later(name);
        EXPECT_TRUE(later.holdsName());
    }

    TEST(SingleInstanceGuard, TheNameVanishesWhenItsHolderIsKilled)
    {
        const std::string name = testName("killed");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const SingleInstanceGuard held(name);
            const char mark = held.holdsName() ? 'y' : 'n';
            [[maybe_unused]] const ssize_t written = write(ready[1], &mark, 1);
            pause();
            _exit(0);
        }
        char mark = 0;
        ASSERT_EQ(read(ready[0], &mark, 1), 1);
        EXPECT_EQ(mark, 'y');
        EXPECT_TRUE(SingleInstanceGuard(name).anotherInstanceRunning());
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(ready[0]);
        close(ready[1]);
        EXPECT_TRUE(SingleInstanceGuard(name).holdsName());
    }

    TEST(SingleInstanceGuard, AChildStartedLaterDoesNotInheritTheName)
    {
        const std::string name = testName("exec");
        pid_t child = -1;
        {
            const SingleInstanceGuard held(name);
            ASSERT_TRUE(held.holdsName());
            child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                execl("/bin/sleep", "sleep", "5", static_cast<char*>(nullptr));
                _exit(127);
            }
            // Until the child has replaced itself it holds a copy of the socket; wait for that.
            const std::string comm = "/proc/" + std::to_string(child) + "/comm";
            for (int attempt = 0; attempt < 5000 && readFirstLine(comm) != "sleep"; ++attempt)
                usleep(1000);
            ASSERT_EQ(readFirstLine(comm), "sleep");
        }
        // The holder let go; the sleeping child must not keep the name alive.
        const SingleInstanceGuard after(name);
        EXPECT_TRUE(after.holdsName());
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }

    TEST(SingleInstanceGuard, AnUnusableNameLetsTheProgramRun)
    {
        const SingleInstanceGuard tooLong(std::string(200, 'x'));
        EXPECT_FALSE(tooLong.anotherInstanceRunning());
        EXPECT_FALSE(tooLong.holdsName());
    }

} // namespace
} // namespace lumivox::app
