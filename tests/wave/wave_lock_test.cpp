#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>

namespace lumivox::wave::test {
namespace {

    // A flock held on a file by this process, or by a child (a program that is not Lumivox) that
    // keeps it until the holder is destroyed.
    class HeldLock {
    public:
        HeldLock(const std::string& file, int operation, bool inChild)
        {
            if (!inChild) {
                descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
                locked = descriptor >= 0 && ::flock(descriptor, operation | LOCK_NB) == 0;
                return;
            }
            int toParent[2];
            int toChild[2];
            if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
                return;
            child = ::fork();
            if (child == 0) {
                ::close(toChild[1]);
                const int held = ::open(file.c_str(), O_RDONLY);
                const char ready = held >= 0 && ::flock(held, operation | LOCK_NB) == 0 ? 'y' : 'n';
                [[maybe_unused]] const ssize_t written = ::write(toParent[1], &ready, 1);
                char end;
                // Returns once the parent closes its end.
                [[maybe_unused]] const ssize_t count = ::read(toChild[0], &end, 1);
                ::_exit(0);
            }
            ::close(toParent[1]);
            ::close(toChild[0]);
            release = toChild[1];
            char ready = 'n';
            locked = ::read(toParent[0], &ready, 1) == 1 && ready == 'y';
            ::close(toParent[0]);
        }
        ~HeldLock()
        {
            if (descriptor >= 0)
                ::close(descriptor);
            if (release >= 0)
                ::close(release);
            if (child > 0)
                ::waitpid(child, nullptr, 0);
        }
        HeldLock(const HeldLock&) = delete;
        HeldLock& operator=(const HeldLock&) = delete;

        bool locked = false;

    private:
        int descriptor = -1;
        int release = -1;
        pid_t child = -1;
    };

    struct LockCase {
        const char* name;
        int operation; // LOCK_EX or LOCK_SH
        bool inChild;
        WaveFileProblem writerProblem;
        WaveFileProblem readerProblem; // None: the reader opens the file
        const char* writerCause;
    };

    // This process counts as a Lumivox run; the child, another program.
    const LockCase lockCases[] = {
        { "WrittenByARun", LOCK_EX, false, WaveFileProblem::InUse, WaveFileProblem::InUse,
            "another run is writing to it" },
        { "ReadByARun", LOCK_SH, false, WaveFileProblem::BeingRead, WaveFileProblem::None,
            "it is being read by another run" },
        { "LockedByAProgram", LOCK_EX, true, WaveFileProblem::LockedElsewhere,
            WaveFileProblem::LockedElsewhere, "another program has it locked" },
        { "SharedByAProgram", LOCK_SH, true, WaveFileProblem::LockedElsewhere,
            WaveFileProblem::None, "another program has it locked" },
    };

    class WaveLock : public WaveFileTest, public ::testing::WithParamInterface<LockCase> { };

    TEST_P(WaveLock, TheWriterNamesWhoHoldsTheFileAndLeavesItAsItWas)
    {
        const Bytes contents = waveFileBytes({}, countingBytes(10));
        const std::string file = writeFile("held.wav", contents);
        const HeldLock holder(file, GetParam().operation, GetParam().inChild);
        ASSERT_TRUE(holder.locked);
        WaveFileError error;
        EXPECT_EQ(createWaveWriter(file, pcmWaveFormat(1, 44100, 16), {}, &error), nullptr);
        EXPECT_EQ(error.problem, GetParam().writerProblem);
        EXPECT_EQ(describe(error), GetParam().writerCause);
        EXPECT_EQ(readFile(file), contents);
    }

    TEST_P(WaveLock, TheReaderIsRefusedOnlyByAWriter)
    {
        const std::string file = writeFile("held.wav", waveFileBytes({}, countingBytes(10)));
        const HeldLock holder(file, GetParam().operation, GetParam().inChild);
        ASSERT_TRUE(holder.locked);
        WaveFileError error;
        auto reader = openWaveReader(file, nullptr, nullptr, &error);
        EXPECT_EQ(reader != nullptr, GetParam().readerProblem == WaveFileProblem::None);
        EXPECT_EQ(error.problem, GetParam().readerProblem);
    }

    INSTANTIATE_TEST_SUITE_P(Holders, WaveLock, ::testing::ValuesIn(lockCases),
        [](const ::testing::TestParamInfo<LockCase>& holder) {
            return std::string(holder.param.name);
        });

    class WaveReaderLock : public WaveFileTest { };

    TEST_F(WaveReaderLock, KeepsWritersOutUntilItCloses)
    {
        const Bytes contents = waveFileBytes({}, countingBytes(10));
        const std::string file = writeFile("input.wav", contents);
        auto reader = openWaveReader(file);
        ASSERT_NE(reader, nullptr);
        const int other = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0); // readers share it
        static_cast<void>(::flock(other, LOCK_UN));
        EXPECT_TRUE(closeWave(std::move(reader)));
        EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
        EXPECT_EQ(readFile(file), contents);
    }

} // namespace
} // namespace lumivox::wave::test
