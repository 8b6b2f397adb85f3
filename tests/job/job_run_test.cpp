#include "engine/vocoder_engine.h"
#include "job_fixture.h"

#include <cmath>

namespace lumivox::job::test {
namespace {

    class JobRun : public JobTest { };

    // What the output of a 16-bit run must hold, worked out sample by sample on a separate engine:
    // carrier as is, modulator over 32767, result clamped to +-32767 and truncated.
    std::vector<std::int16_t> expected16(const std::vector<std::int16_t>& carrier,
        const std::vector<std::int16_t>& modulator, int clearance, int vagueness, int gain,
        int clarity = 0)
    {
        engine::VocoderEngine engine;
        engine.setClearance(clearance / 100.0);
        engine.setVagueness(vagueness / 100.0);
        engine.setOutputGain(gain / 50.0);
        engine.setClarity(clarity / 100.0);
        std::vector<std::int16_t> output;
        for (std::size_t i = 0; i < std::min(carrier.size(), modulator.size()); ++i) {
            const double y = engine.processSample(carrier[i], modulator[i] / 32767.0);
            output.push_back(
                static_cast<std::int16_t>(std::trunc(std::clamp(y, -32767.0, 32767.0))));
        }
        return output;
    }

    std::vector<std::uint8_t> expected8(
        const std::vector<std::uint8_t>& carrier, const std::vector<std::uint8_t>& modulator)
    {
        engine::VocoderEngine engine;
        std::vector<std::uint8_t> output;
        for (std::size_t i = 0; i < std::min(carrier.size(), modulator.size()); ++i) {
            const double y
                = engine.processSample(carrier[i] - 127.0, (modulator[i] - 127.0) / 127.0);
            output.push_back(
                static_cast<std::uint8_t>(std::floor(std::clamp(y, -127.0, 127.0) + 127.0)));
        }
        return output;
    }

    const std::vector<std::string> vocodeStart { "started Vocode" };
    const std::vector<std::string> vocodeEnd { "released Vocode" };
    const std::vector<std::string> previewStart { "started Preview" };
    const std::vector<std::string> previewEnd { "released Preview" };

    std::vector<std::string> joined(
        std::vector<std::string> first, const std::vector<std::string>& second)
    {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    }

} // namespace

TEST_F(JobRun, VocodeSwitchesTheControlsAndCountsProgressInWholePercent)
{
    writeMono16(10000, 6000); // 12000 mono bytes: blocks of 4096, 4096 and 3808
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(port.controlEvents(), joined(vocodeStart, vocodeEnd));
    EXPECT_EQ(port.eventsStartingWith("progress"),
        (std::vector<std::string> {
            "progress 34", "progress 68", "progress 100", "progress 100" }));
    EXPECT_EQ(port.allEvents().front(), "started Vocode");
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobRun, VocodeWritesTheShorterLengthAsTheEngineComputesIt)
{
    const auto carrier = testSignal16(10000, 1);
    const auto modulator = testSignal16(6000, 2);
    writeCarrier({}, int16Bytes(carrier));
    writeModulator({}, int16Bytes(modulator));
    settings.sound = { 30, 40, 70 };
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(int16Samples(output->data), expected16(carrier, modulator, 30, 40, 70));
    EXPECT_EQ(output->shape.channels, 1);
    EXPECT_EQ(output->shape.sampleRate, 44100u);
    EXPECT_EQ(output->shape.bitsPerSample, 16);
    // A Vocode keeps the settings it was started with.
    EXPECT_EQ(port.soundReads, 0);
}

TEST_F(JobRun, VocodeTakesClarityToTheEngine)
{
    const auto carrier = testSignal16(10000, 1);
    const auto modulator = testSignal16(10000, 2);
    writeCarrier({}, int16Bytes(carrier));
    writeModulator({}, int16Bytes(modulator));
    settings.sound = { 0, 0, 50, 55 };
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    const auto written = int16Samples(output->data);
    EXPECT_EQ(written, expected16(carrier, modulator, 0, 0, 50, 55));
    EXPECT_NE(written, expected16(carrier, modulator, 0, 0, 50, 0));
}

TEST_F(JobRun, ASwappedPairGivesTheShorterLengthToo)
{
    writeMono16(6000, 10000);
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 12000u);
}

TEST_F(JobRun, AStereoEightBitCarrierIsReducedAndCountedInMonoBytes)
{
    const auto left = testSignal8(6000, 1);
    const auto right = testSignal8(6000, 3);
    std::vector<std::uint8_t> interleaved;
    std::vector<std::uint8_t> mono;
    for (std::size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
        mono.push_back(static_cast<std::uint8_t>((left[i] >> 1) + (right[i] >> 1)));
    }
    const auto modulator = testSignal8(9000, 2);
    writeCarrier({ 1, 2, 22050, 8 }, interleaved);
    writeModulator({ 1, 1, 22050, 8 }, modulator);

    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data, expected8(mono, modulator));
    EXPECT_EQ(output->shape.channels, 1);
    EXPECT_EQ(output->shape.sampleRate, 22050u);
    EXPECT_EQ(output->shape.bitsPerSample, 8);
    // 6000 mono bytes: one full block (68%), then the rest.
    EXPECT_EQ(port.eventsStartingWith("progress"),
        (std::vector<std::string> { "progress 68", "progress 100", "progress 100" }));
}

TEST_F(JobRun, AnEmptyModulatorGivesAnEmptyOutputAndOnlyTheFinalPosition)
{
    writeMono16(1000, 0);
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(output->data.empty());
    EXPECT_EQ(output->riffSize, 38u);
    EXPECT_EQ(port.eventsStartingWith("progress"), (std::vector<std::string> { "progress 100" }));
}

TEST_F(JobRun, PreviewPlaysWhatVocodeWritesInFullBlocks)
{
    writeMono16(10000, 6000);
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto written = readOutputWave(settings.outputPath)->data;

    RecordingPort previewPort;
    ASSERT_EQ(runVocodingJob(inMode(settings, JobMode::Preview), state, previewPort, environment),
        JobOutcome::Finished);
    EXPECT_EQ(sink.played, written);
    EXPECT_EQ(sink.openedWith.framesPerBuffer, 2048u);
    EXPECT_EQ(sink.openedWith.bitsPerSample, 16);
    EXPECT_EQ(sink.openedWith.sampleRate, 44100.0);
    EXPECT_EQ(sink.calls,
        (std::vector<std::string> {
            "open", "start", "write 2048", "write 2048", "write 1904", "finish stop", "close" }));
    EXPECT_EQ(previewPort.controlEvents(), joined(previewStart, previewEnd));
    EXPECT_EQ(previewPort.eventsStartingWith("progress"),
        (std::vector<std::string> {
            "progress 34", "progress 68", "progress 100", "progress 100" }));
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobRun, EightBitPreviewUsesBuffersOf4096Frames)
{
    writeCarrier({ 1, 1, 22050, 8 }, testSignal8(5000, 1));
    writeModulator({ 1, 1, 22050, 8 }, testSignal8(5000, 2));
    ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
    EXPECT_EQ(sink.openedWith.framesPerBuffer, 4096u);
    EXPECT_EQ(sink.openedWith.bitsPerSample, 8);
    EXPECT_EQ(sink.openedWith.sampleRate, 22050.0);
    EXPECT_EQ(sink.calls,
        (std::vector<std::string> {
            "open", "start", "write 4096", "write 904", "finish stop", "close" }));
}

TEST_F(JobRun, PreviewSetsPreviewRunningWhilePlaying)
{
    writeMono16(6000, 6000);
    std::vector<bool> seen;
    sink.onWrite = [&](int) { seen.push_back(state.previewRunning && state.jobBusy); };
    ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
    EXPECT_EQ(seen, (std::vector<bool> { true, true, true }));
}

TEST_F(JobRun, PreviewAppliesASliderMoveFromTheNextBlock)
{
    writeMono16(6144, 6144); // three full blocks
    sink.onWrite = [&](int blocks) {
        if (blocks == 1)
            port.live = SoundSettings { 0, 0, 0 }; // output gain 0
    };
    ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
    ASSERT_EQ(sink.played.size(), 12288u);
    const auto played = int16Samples(sink.played);
    EXPECT_TRUE(std::any_of(played.begin(), played.begin() + 2048, [](auto s) { return s != 0; }));
    EXPECT_TRUE(std::all_of(played.begin() + 2048, played.end(), [](auto s) { return s == 0; }));
    // Read before every block, the one that finds the end included.
    EXPECT_EQ(port.soundReads, 4);
}

TEST_F(JobRun, CancelEndsVocodeWithAValidShorterFile)
{
    writeMono16(20000, 20000);
    port.onProgress = [&](int percent) {
        if (percent > 0 && percent < 100)
            state.stopRequested = true;
    };
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Stopped);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data.size(), 4096u); // the block whose position was sent is written
    EXPECT_EQ(output->riffSize, 38u + 4096u);
    EXPECT_EQ(port.eventsStartingWith("progress").back(), "progress 100");
    EXPECT_EQ(port.controlEvents(), joined(vocodeStart, vocodeEnd));
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobRun, StopAbortsThePreviewBeforeTheNextBlock)
{
    writeMono16(20000, 20000);
    sink.onWrite = [&](int blocks) {
        if (blocks == 2)
            state.stopRequested = true;
    };
    EXPECT_EQ(run(JobMode::Preview), JobOutcome::Stopped);
    EXPECT_EQ(sink.calls,
        (std::vector<std::string> {
            "open", "start", "write 2048", "write 2048", "finish abort", "close" }));
    EXPECT_EQ(port.controlEvents(), joined(previewStart, previewEnd));
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobRun, CloseAnsweredNoLetsTheRunFinish)
{
    writeMono16(10000, 10000);
    port.onProgress = [&](int percent) {
        if (percent > 0 && percent < 100)
            state.closeRequested = true;
    };
    port.answerYes = false;
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 20000u);
    // Every position sent raised a new request, and each was asked about once.
    const auto questions = port.eventsStartingWith("question");
    ASSERT_FALSE(questions.empty());
    EXPECT_EQ(questions.front(), "question Vocoding is in progress, would you like to abort it?");
    EXPECT_EQ(questions.size(), port.eventsStartingWith("progress").size() - 2);
    EXPECT_FALSE(state.closeRequested);
    EXPECT_TRUE(port.eventsStartingWith("end").empty());
}

TEST_F(JobRun, CloseAnsweredYesFinishesTheFileAndEndsTheProgram)
{
    writeMono16(20000, 20000);
    port.onProgress = [&](int percent) {
        if (percent > 0 && percent < 100)
            state.closeRequested = true;
    };
    port.answerYes = true;
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::ProgramEnded);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data.size(), 4096u);
    const auto events = port.allEvents();
    EXPECT_EQ(events.back(), "end");
    EXPECT_EQ(
        events[events.size() - 2], "question Vocoding is in progress, would you like to abort it?");
    EXPECT_FALSE(state.jobBusy);
}

TEST_F(JobRun, ClosingDuringAPreviewEndsTheProgramWithoutAQuestion)
{
    writeMono16(20000, 20000);
    sink.onWrite = [&](int blocks) {
        if (blocks == 1)
            state.closeRequested = true;
    };
    EXPECT_EQ(run(JobMode::Preview), JobOutcome::ProgramEnded);
    EXPECT_EQ(
        sink.calls, (std::vector<std::string> { "open", "start", "write 2048", "abort", "close" }));
    EXPECT_TRUE(port.eventsStartingWith("question").empty());
    EXPECT_EQ(port.allEvents().back(), "end");
}

} // namespace lumivox::job::test
