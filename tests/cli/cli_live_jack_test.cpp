// lumivox-cli --live as a JACK client on a dummy server of the test's own: a voice from a file is
// played into lumivox:voice, and both it and lumivox:out are recorded on the server's clock.

#include "child_process.h"
#include "jack_server_name.h"
#include "scratch_folder.h"
#include "sndfile_io.h"
#include "test_wave_bytes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <numbers>
#include <sndfile.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace lumivox::cli::test {
namespace {

    using namespace std::chrono_literals;
    constexpr int rate = 48000;

    // A program started with extra environment entries, its output in a file; stopped by its own
    // process id when the test is done with it.
    class Program {
    public:
        Program(const std::vector<std::string>& arguments, const std::vector<std::string>& extra,
            const std::filesystem::path& log)
        {
            const UniqueFd output(
                ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
            pid = startProgram(arguments, extra, output.get(), output.get());
        }
        ~Program()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                static_cast<void>(wait());
            }
        }
        Program(const Program&) = delete;
        Program& operator=(const Program&) = delete;

        [[nodiscard]] pid_t id() const { return pid; }
        void signal(int number) const { kill(pid, number); }
        // The exit status, or -1 when it did not start or did not exit normally.
        int wait() { return pid > 0 ? waitForChild(std::exchange(pid, -1)).exitStatus : -1; }
        // Whether it ended within the time; its exit status through status.
        bool waitFor(std::chrono::milliseconds limit, int& status)
        {
            const auto until = std::chrono::steady_clock::now() + limit;
            while (std::chrono::steady_clock::now() < until) {
                int raw = 0;
                const pid_t done = waitpid(pid, &raw, WNOHANG);
                if (done == pid) {
                    pid = -1;
                    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                    return true;
                }
                std::this_thread::sleep_for(20ms);
            }
            return false;
        }

    private:
        pid_t pid = -1;
    };

    // Polls until the condition holds; false after the time.
    template <typename Condition>
    bool eventually(Condition condition, std::chrono::seconds limit = 20s)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    // One channel of a sound file, through libsndfile; empty when it cannot be read.
    std::vector<float> channelOf(const std::filesystem::path& path, int index)
    {
        const auto file = lumivox::test::readBack(path.string());
        if (!file || index >= file->info.channels)
            return {};
        const std::vector<double> values = file->channel(index);
        return { values.begin(), values.end() };
    }

    // The RMS level of each 10 ms of a signal.
    std::vector<double> envelope(const std::vector<float>& signal)
    {
        const std::size_t window = rate / 100;
        std::vector<double> levels;
        for (std::size_t start = 0; start + window <= signal.size(); start += window) {
            double sum = 0.0;
            for (std::size_t i = start; i < start + window; ++i)
                sum += static_cast<double>(signal[i]) * signal[i];
            levels.push_back(std::sqrt(sum / window));
        }
        return levels;
    }

    double correlation(const std::vector<double>& a, const std::vector<double>& b, std::size_t lag)
    {
        const std::size_t count = std::min(a.size(), b.size() - std::min(lag, b.size()));
        double meanA = 0.0, meanB = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            meanA += a[i];
            meanB += b[i + lag];
        }
        meanA /= count;
        meanB /= count;
        double ab = 0.0, aa = 0.0, bb = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            ab += (a[i] - meanA) * (b[i + lag] - meanB);
            aa += (a[i] - meanA) * (a[i] - meanA);
            bb += (b[i + lag] - meanB) * (b[i + lag] - meanB);
        }
        return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
    }

    // One second of silence (time to connect the player), then three bursts of a buzzing vowel of
    // different lengths and levels with silence between, then silence again.
    void writeVoice(const std::filesystem::path& path)
    {
        const double bursts[][3] = { { 1.0, 1.3, 0.5 }, { 1.6, 2.2, 0.25 }, { 2.5, 2.7, 0.6 } };
        lumivox::test::Bytes samples;
        for (int i = 0; i < rate * 3; ++i) {
            const double t = static_cast<double>(i) / rate;
            double value = 0.0;
            for (const auto& burst : bursts) {
                if (t >= burst[0] && t < burst[1]) {
                    for (int harmonic = 1; harmonic <= 12; ++harmonic)
                        value += std::sin(2.0 * std::numbers::pi * 150.0 * harmonic * t) / harmonic;
                    value *= burst[2] / 2.5;
                }
            }
            lumivox::test::appendUint16(samples,
                static_cast<std::uint16_t>(
                    static_cast<std::int16_t>(std::lround(32767.0 * value))));
        }
        lumivox::test::writeWaveFile(path, { 1, 1, rate, 16 }, samples);
    }

    // Polls the log until it holds the text.
    bool logSays(const std::filesystem::path& log, const std::string& text)
    {
        return eventually([&] { return fileText(log).find(text) != std::string::npos; });
    }

    // Sends the signal and gives the exit status, or -2 when the program did not end.
    int stopWith(Program& program, int signal)
    {
        program.signal(signal);
        int status = -1;
        return program.waitFor(20s, status) ? status : -2;
    }

    // The recording is a finished output file, and the run's log counts its frames.
    void expectRecordingCounted(const std::filesystem::path& path, const std::string& log)
    {
        std::string problem;
        const auto recording = lumivox::test::readOutputWave(path, problem);
        ASSERT_TRUE(recording) << problem;
        EXPECT_GT(recording->data.size(), 0U);
        EXPECT_NE(log.find("recorded " + std::to_string(recording->data.size() / 4) + " frames"),
            std::string::npos)
            << log;
    }

    class LiveOnJack : public ScratchFolderTest {
    protected:
        void SetUp() override
        {
            ScratchFolderTest::SetUp();
            environment = { "JACK_DEFAULT_SERVER=" + serverName.name(),
                "JACK_NO_AUDIO_RESERVATION=1", "JACK_NO_START_SERVER=1" };
            // Two servers starting at the same moment (this suite's other test, or another
            // suite's) can meet in JACK's shared registry, and one of them then refuses its first
            // client: stop it and start again, a little later each time.
            bool ready = false;
            for (int attempt = 0; attempt < 4 && !ready; ++attempt) {
                if (server) {
                    server->signal(SIGTERM);
                    int status = 0;
                    static_cast<void>(server->waitFor(5s, status));
                    server.reset();
                    std::this_thread::sleep_for(200ms + 300ms * attempt);
                }
                server = std::make_unique<Program>(
                    std::vector<std::string> { "jackd", "--no-realtime", "-d", "dummy", "-r",
                        std::to_string(rate), "-p", "128" },
                    environment, folder / "jackd.log");
                ASSERT_GT(server->id(), 0) << "jackd (Debian package jackd2) is needed";
                ready = run({ "jack_wait", "-w", "-t", "10" }) == 0;
            }
            ASSERT_TRUE(ready) << fileText(folder / "jackd.log");
        }
        void TearDown() override
        {
            if (server) {
                server->signal(SIGTERM);
                int status = 0;
                if (!server->waitFor(10s, status))
                    server.reset(); // killed
            }
            ScratchFolderTest::TearDown();
        }

        int run(const std::vector<std::string>& arguments)
        {
            Program program(arguments, environment, folder / "tool.log");
            return program.wait();
        }
        // The tool's listing; asked again while the server refuses the tool (its client name may
        // still be taken by the tool before it, or the server is busy with another client).
        std::string ports(const std::vector<std::string>& listing = { "jack_lsp" })
        {
            static_cast<void>(eventually([&] { return run(listing) == 0; }, 10s));
            return fileText(folder / "tool.log");
        }
        // jack_connect, again while the name of its own client is still taken by the one before
        // (the server may take a moment to let it go).
        bool connect(const std::string& from, const std::string& to)
        {
            return eventually([&] { return run({ "jack_connect", from, to }) == 0; }, 10s);
        }

        lumivox::test::JackServerName serverName;
        std::vector<std::string> environment;
        std::unique_ptr<Program> server;
    };

    TEST_F(LiveOnJack, OutputFollowsTheVoiceAndTheRecordingIsWhatWasPlayed)
    {
        const auto voicePath = folder / "voice.wav";
        writeVoice(voicePath);
        const auto recordPath = folder / "record.wav";
        Program live({ LUMIVOX_CLI_PATH, "--live", "--no-connect", "--record", recordPath.string(),
                         "--carrier-sound", "noise" },
            environment, folder / "live.log");
        ASSERT_TRUE(logSays(folder / "live.log", "live on")) << fileText(folder / "live.log");
        // jack_lsp may find its own client name still taken by the last tool: ask again.
        ASSERT_TRUE(eventually([&] { return ports().find("lumivox:voice") != std::string::npos; }));

        Program recorder(
            { "jack-record", "-n", "2", "-b", "262144", "-t", "6", (folder / "both.wav").string() },
            environment, folder / "record.log");
        const pid_t recorderId = recorder.id();
        const std::string recorderPort = "jack-record-" + std::to_string(recorderId) + ":in_";
        ASSERT_TRUE(
            eventually([&] { return ports().find(recorderPort + "2") != std::string::npos; }));
        ASSERT_TRUE(connect("lumivox:out", recorderPort + "2"));

        Program player({ "jack-play", voicePath.string() }, environment, folder / "play.log");
        const std::string playerPort = "jack-play-" + std::to_string(player.id()) + ":out_1";
        ASSERT_TRUE(eventually([&] { return ports().find(playerPort) != std::string::npos; }));
        ASSERT_TRUE(connect(playerPort, "lumivox:voice"));
        ASSERT_TRUE(connect(playerPort, recorderPort + "1"));

        int status = -1;
        ASSERT_TRUE(player.waitFor(30s, status)) << "jack-play did not end";
        ASSERT_TRUE(recorder.waitFor(30s, status)) << "jack-record did not end";
        EXPECT_EQ(stopWith(live, SIGINT), 0);
        const std::string log = fileText(folder / "live.log");
        EXPECT_NE(log.find("the bands delay a voice by"), std::string::npos) << log;
        EXPECT_NE(log.find("missed cycles"), std::string::npos) << log;

        // The record file is finished, laid out as every output of the program.
        std::string problem;
        const auto recordWave = lumivox::test::readOutputWave(recordPath, problem);
        ASSERT_TRUE(recordWave) << problem;
        EXPECT_EQ(recordWave->shape.formatTag, 3);
        EXPECT_EQ(recordWave->shape.sampleRate, static_cast<std::uint32_t>(rate));
        const std::vector<float> recorded = channelOf(recordPath, 0);

        const std::vector<float> heardVoice = channelOf(folder / "both.wav", 0);
        const std::vector<float> heardOut = channelOf(folder / "both.wav", 1);
        ASSERT_FALSE(heardVoice.empty() || heardOut.empty());

        // The output's level follows the voice's: loud in the bursts, silent between them.
        const std::vector<double> voiceLevels = envelope(heardVoice);
        const std::vector<double> outLevels = envelope(heardOut);
        double best = -1.0;
        std::size_t bestLag = 0;
        for (std::size_t lag = 0; lag < 10; ++lag) {
            const double c = correlation(voiceLevels, outLevels, lag);
            if (c > best) {
                best = c;
                bestLag = lag;
            }
        }
        EXPECT_GT(best, 0.8) << "lag " << bestLag * 10 << " ms";
        EXPECT_LE(bestLag, 5U) << "the output's level lags the voice's by " << bestLag * 10
                               << " ms";

        // The record file holds what lumivox:out played, period for period. The recorder heard it
        // from some period on: find that by the first sound in each. A cycle that a client missed
        // (jackd logs each) is one whose output nobody made: it may differ, and the two
        // recordings may be a period or so apart after it.
        const auto firstSound = [](const std::vector<float>& s) {
            return static_cast<std::size_t>(
                std::find_if(s.begin(), s.end(), [](float v) { return v != 0.0F; }) - s.begin());
        };
        const std::size_t inRecord = firstSound(recorded);
        const std::size_t inHeard = firstSound(heardOut);
        ASSERT_LT(inHeard, heardOut.size()) << "nothing came out of lumivox:out";
        ASSERT_GE(inRecord, inHeard);
        constexpr std::ptrdiff_t period = 128;
        std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(inRecord - inHeard);
        const auto matches = [&](std::size_t block, std::ptrdiff_t at) {
            const std::ptrdiff_t start = at + static_cast<std::ptrdiff_t>(block) * period;
            if (start < 0 || start + period > static_cast<std::ptrdiff_t>(recorded.size()))
                return false;
            return std::equal(heardOut.begin() + static_cast<std::ptrdiff_t>(block) * period,
                heardOut.begin() + static_cast<std::ptrdiff_t>(block + 1) * period,
                recorded.begin() + start);
        };
        std::size_t matched = 0, unmatched = 0, shifts = 0, sounding = 0;
        const std::size_t blockCount = heardOut.size() / period;
        for (std::size_t block = 0; block < blockCount; ++block) {
            if (matches(block, offset)) {
                ++matched;
            } else {
                bool found = false;
                for (std::ptrdiff_t k = 1; k <= 8 && !found; ++k) {
                    for (const std::ptrdiff_t shift : { k * period, -k * period }) {
                        if (!found && matches(block, offset + shift)) {
                            offset += shift;
                            found = true;
                        }
                    }
                }
                ++(found ? shifts : unmatched);
                matched += found ? 1 : 0;
            }
            sounding += std::any_of(heardOut.begin() + static_cast<std::ptrdiff_t>(block) * period,
                            heardOut.begin() + static_cast<std::ptrdiff_t>(block + 1) * period,
                            [](float v) { return v != 0.0F; })
                ? 1
                : 0;
        }
        const std::string serverLog = fileText(folder / "jackd.log");
        // Each cycle a client missed, as jackd logs it ("client = NAME was not finished").
        const auto missedBy = [&serverLog](const std::string& client) {
            std::size_t count = 0;
            const std::string line = "client = " + client;
            for (std::size_t at = serverLog.find(line); at != std::string::npos;
                 at = serverLog.find(line, at + 1))
                count += serverLog.compare(at + line.size(), 18, " was not finished,") == 0 ? 1 : 0;
            return count;
        };
        const std::size_t lumivoxMissed = missedBy("lumivox");
        const std::size_t missedCycles
            = lumivoxMissed + missedBy("jack-record-" + std::to_string(recorderId));
        std::cout << matched << " of " << blockCount << " periods alike, " << unmatched << " not, "
                  << shifts << " shifts, " << missedCycles << " cycles missed by a client\n";
        EXPECT_GT(sounding, static_cast<std::size_t>(rate / period))
            << "a second of sound at least";
        EXPECT_LE(unmatched + shifts, missedCycles)
            << matched << " of " << blockCount << " periods alike, " << unmatched << " not, "
            << shifts << " shifts, " << missedCycles << " cycles missed";
        EXPECT_GE(matched + missedCycles, blockCount);
    }

    std::vector<std::string> connectionsOf(const std::string& listing, const std::string& port)
    {
        // jack_lsp -c lists each port on a line of its own, then the ports it is connected to,
        // indented by three spaces.
        std::vector<std::string> connected;
        bool inPort = false;
        std::size_t start = 0;
        while (start < listing.size()) {
            std::size_t end = listing.find('\n', start);
            if (end == std::string::npos)
                end = listing.size();
            const std::string line = listing.substr(start, end - start);
            if (!line.starts_with("   "))
                inPort = line == port;
            else if (inPort)
                connected.push_back(line.substr(3));
            start = end + 1;
        }
        return connected;
    }

    struct PortCase {
        const char* name;
        std::vector<std::string> arguments; // "carrier.wav" is a carrier file at 44100 Hz
        std::vector<std::string> voiceFrom;
        std::vector<std::string> outTo;
        bool carrierPort;
        int stopSignal;
    };

    void PrintTo(const PortCase& row, std::ostream* out) { *out << row.name; }

    class LivePorts : public LiveOnJack, public ::testing::WithParamInterface<PortCase> { };

    // The client's ports and what they are connected to; SIGTERM ends the run as Ctrl-C does.
    TEST_P(LivePorts, ConnectAsAskedAndEndOnASignal)
    {
        lumivox::test::Bytes samples;
        for (int i = 0; i < 4410; ++i)
            lumivox::test::appendUint16(samples, static_cast<std::uint16_t>((i % 100) * 300));
        lumivox::test::writeWaveFile(folder / "carrier.wav", { 1, 1, 44100, 16 }, samples);
        std::vector<std::string> arguments { LUMIVOX_CLI_PATH };
        for (const std::string& argument : GetParam().arguments)
            arguments.push_back(argument == "carrier.wav" ? pathOf(argument) : argument);
        Program live(arguments, environment, folder / "live.log");
        ASSERT_TRUE(logSays(folder / "live.log", "live on")) << fileText(folder / "live.log");
        const std::string listing = ports({ "jack_lsp", "-c" });
        EXPECT_EQ(connectionsOf(listing, "lumivox:voice"), GetParam().voiceFrom) << listing;
        EXPECT_EQ(connectionsOf(listing, "lumivox:out"), GetParam().outTo) << listing;
        EXPECT_EQ(listing.find("lumivox:carrier\n") != std::string::npos, GetParam().carrierPort)
            << listing;
        EXPECT_EQ(stopWith(live, GetParam().stopSignal), 0) << fileText(folder / "live.log");
    }

    INSTANTIATE_TEST_SUITE_P(Live, LivePorts,
        ::testing::Values(
            // A carrier file at another rate than the server's plays looped; without --no-connect
            // the voice comes from the first capture port and the output goes to every playback
            // port.
            PortCase { "SystemPorts", { "--live", "carrier.wav" }, { "system:capture_1" },
                { "system:playback_1", "system:playback_2" }, false, SIGTERM },
            // With the carrier `jack`, a synth can be the carrier: the client has a port for it.
            PortCase { "CarrierPort", { "--live", "--no-connect", "jack" }, {}, {}, true, SIGINT }),
        [](const auto& row) { return std::string(row.param.name); });

    // A server that goes away mid-run ends it: the run says so, fails, and keeps the recording.
    TEST_F(LiveOnJack, AServerThatStopsEndsTheRunAndKeepsTheRecording)
    {
        const auto recordPath = folder / "record.wav";
        Program live({ LUMIVOX_CLI_PATH, "--live", "--record", recordPath.string(),
                         "--carrier-sound", "noise" },
            environment, folder / "live.log");
        ASSERT_TRUE(logSays(folder / "live.log", "missed cycles")) << fileText(folder / "live.log");
        server->signal(SIGTERM);
        int status = -1;
        ASSERT_TRUE(server->waitFor(20s, status));
        server.reset();
        ASSERT_TRUE(live.waitFor(20s, status)) << "lumivox-cli did not notice";
        const std::string log = fileText(folder / "live.log");
        EXPECT_EQ(status, 1) << log;
        EXPECT_NE(log.find("lumivox-cli: the JACK server stopped"), std::string::npos) << log;
        expectRecordingCounted(recordPath, log);
    }

    // Without a JACK server the default devices play through PortAudio: here ALSA's null device,
    // which takes and gives samples as fast as they come.
    TEST_F(ScratchFolderTest, WithoutAServerLivePlaysOnTheDefaultDevices)
    {
        std::ofstream(folder / "alsa.conf") << "pcm.!default {\n    type null\n}\n";
        const auto recordPath = folder / "record.wav";
        Program live({ LUMIVOX_CLI_PATH, "--live", "--record", recordPath.string(),
                         "--carrier-sound", "chord" },
            { "JACK_DEFAULT_SERVER=lumivox-test-none-" + std::to_string(getpid()),
                "JACK_NO_START_SERVER=1", "ALSA_CONFIG_PATH=" + (folder / "alsa.conf").string() },
            folder / "live.log");
        ASSERT_TRUE(logSays(folder / "live.log", "live on PortAudio"))
            << fileText(folder / "live.log");
        EXPECT_EQ(stopWith(live, SIGINT), 0);
        expectRecordingCounted(recordPath, fileText(folder / "live.log"));
    }

    // Without a server there is no port for a carrier: the run says so and ends at once.
    TEST_F(ScratchFolderTest, LiveCarrierPortWithoutAServerIsRefused)
    {
        Program live(
            { LUMIVOX_CLI_PATH, "--live", "--record", (folder / "r.wav").string(), "jack" },
            { "JACK_DEFAULT_SERVER=lumivox-test-none-" + std::to_string(getpid()),
                "JACK_NO_START_SERVER=1" },
            folder / "live.log");
        int status = -1;
        ASSERT_TRUE(live.waitFor(20s, status));
        EXPECT_EQ(status, 1);
        EXPECT_EQ(fileText(folder / "live.log"),
            "lumivox-cli: the carrier 'jack' needs a JACK server, and no JACK server is running\n");
        EXPECT_FALSE(std::filesystem::exists(folder / "r.wav"));
    }

} // namespace
} // namespace lumivox::cli::test
