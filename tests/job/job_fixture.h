#pragma once

#include "fake_preview_sink.h"
#include "job_test_files.h"
#include "recording_port.h"
#include "vocoding_job.h"

#include <gtest/gtest.h>
#include <optional>

namespace lumivox::job::test {

// A temporary folder with the job's three paths in it, a recording front end and a fake preview.
class JobTest : public ::testing::Test {
protected:
    JobTest()
    {
        settings.carrierPath = (folder / "carrier.wav").string();
        settings.modulatorPath = (folder / "modulator.wav").string();
        settings.outputPath = (folder / "output.wav").string();
        environment.previewSink = &sink;
    }

    void writeCarrier(const WaveShape& shape, const std::vector<std::uint8_t>& sampleBytes)
    {
        writeFile(settings.carrierPath, waveFileBytes(shape, sampleBytes));
    }
    void writeModulator(const WaveShape& shape, const std::vector<std::uint8_t>& sampleBytes)
    {
        writeFile(settings.modulatorPath, waveFileBytes(shape, sampleBytes));
    }
    // Mono 16-bit inputs at 44100 Hz of the given lengths.
    void writeMono16(std::size_t carrierSamples, std::size_t modulatorSamples)
    {
        writeCarrier({}, int16Bytes(testSignal16(carrierSamples, 1)));
        writeModulator({}, int16Bytes(testSignal16(modulatorSamples, 2)));
    }

    JobOutcome run(JobMode mode)
    {
        return runVocodingJob(inMode(settings, mode), state, port, environment);
    }

    // The whole output of a Vocode of the present inputs, written beside the output and read back,
    // for comparing with what a run that fails part-way leaves. Empty if that run did not finish.
    std::optional<lumivox::test::OutputWave> completeOutput()
    {
        JobState side;
        JobSettings sideSettings = inMode(settings, JobMode::Vocode);
        sideSettings.outputPath = (folder / "complete.wav").string();
        RecordingPort sidePort;
        if (runVocodingJob(sideSettings, side, sidePort, environment) != JobOutcome::Finished)
            return std::nullopt;
        return lumivox::test::readOutputWave(sideSettings.outputPath);
    }

    bool allFlagsClear() const
    {
        return !state.jobBusy && !state.previewRunning && !state.stopRequested;
    }

    TemporaryFolder folder;
    JobSettings settings;
    JobState state;
    RecordingPort port;
    FakePreviewSink sink;
    JobEnvironment environment;
};

} // namespace lumivox::job::test
