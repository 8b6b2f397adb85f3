#include "run_sources.h"

#include "input_checks.h"
#include "job_messages.h"
#include "wave/resampler.h"
#include "wave/sample_stores.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace lumivox::job {

namespace {

    // The messages of one input's refusals.
    struct InputMessages {
        std::string_view notOpened;
        std::string_view notPcm;
        std::string_view channels;
        std::string_view buffer;
    };

    constexpr InputMessages carrierMessages { message::carrierNotOpened, message::carrierNotPcm,
        message::carrierChannels, message::carrierBuffer };
    constexpr InputMessages modulatorMessages { message::modulatorNotOpened,
        message::modulatorNotPcm, message::modulatorChannels, message::modulatorBuffer };

    RunFailure failure(std::string_view message, std::string file = {}, std::string cause = {})
    {
        return { message, { std::move(file), std::move(cause) } };
    }

    bool hasOneOrTwoChannels(const wave::WaveFormat& format)
    {
        return format.channels == 1 || format.channels == 2;
    }

    // An 8- or 16-bit PCM wave file of one or two channels: read as it always has been.
    bool readsAsBefore(const MonoInput& input)
    {
        return input.reader && isVocodablePcm(input) && hasOneOrTwoChannels(input.format);
    }

    // An input's length in seconds, from a count of its own bytes.
    double inputSeconds(const MonoInput& input, std::uint64_t byteCount)
    {
        const double bytesPerSecond = static_cast<double>(input.format.sampleRate)
            * std::max<std::uint16_t>(input.format.blockAlign, 1);
        return input.format.sampleRate == 0 ? 0.0 : static_cast<double>(byteCount) / bytesPerSecond;
    }

    bool endedEarly(const MonoInput& input) { return input.reader && input.reader->endedEarly(); }

} // namespace

RunInputs::RunInputs(const JobSettings& runSettings, const JobEnvironment& environment,
    TakeBuffer take, const std::atomic<bool>& stopRequested)
    : settings(runSettings)
    , takeBuffer(std::move(take))
    , readInput(environment.readInput)
    , carrierKeptFrames(environment.carrierKeptFrames)
    , stop(stopRequested)
{
}

std::optional<RunFailure> RunInputs::takeBuffers()
{
    if (!(carrierBlock = takeBuffer(blockBufferBytes)))
        return failure(message::carrierBuffer);
    if (!(modulatorBlock = takeBuffer(blockBufferBytes)))
        return failure(message::modulatorBuffer);
    return std::nullopt;
}

std::optional<RunFailure> RunInputs::open()
{
    if (!builtInCarrier()) {
        if (auto refused = openInput(InputRole::Carrier))
            return refused;
    }
    if (auto refused = openInput(InputRole::Modulator))
        return refused;
    if (builtInCarrier())
        makeBuiltInCarrier();
    else if (auto refused = matchRates())
        return refused;
    // Each input's length at the carrier's rate, before a repeat makes the carrier endless.
    const double rate = static_cast<double>(carrierSource->sampleRate());
    modulatorSeconds = static_cast<double>(modulatorSource->frameCount()) / rate;
    carrierSeconds = builtInCarrier() ? modulatorSeconds
                                      : static_cast<double>(carrierSource->frameCount()) / rate;
    // An input that says more than its file holds is the shorter one only by its claim.
    totalKnown = modulatorSource->lengthTrusted()
        && (builtInCarrier() || settings.repeatCarrier || carrierSource->lengthTrusted());
    // A carrier that does not say how long it is is repeated as well: it may hold frames.
    if (settings.repeatCarrier && !builtInCarrier()
        && (carrierSource->frameCount() > 0 || !carrierSource->lengthKnown())) {
        // A repeated carrier lasts as long as the modulator: nothing of it is left out.
        repeatCarrier();
        carrierSeconds = std::max(carrierSeconds, modulatorSeconds);
    }
    return std::nullopt;
}

wave::WaveFormat RunInputs::outputFormat(wave::OutputDepth depth) const
{
    if (!carrierFile.reader)
        return wave::monoWaveFormat(depth, carrierSource->sampleRate());
    const wave::WaveFormat& carrier = carrierFile.format;
    wave::WaveFormat format;
    format.formatTag = wave::pcmFormatTag;
    format.channels = 1;
    format.sampleRate = carrier.sampleRate;
    format.bitsPerSample = carrier.bitsPerSample;
    format.blockAlign = static_cast<std::uint16_t>(carrier.bitsPerSample / 8);
    format.avgBytesPerSec = carrier.sampleRate * (carrier.bitsPerSample / 8u);
    format.extraSize = 0;
    return format;
}

InputBlocks RunInputs::blocks(
    CountedSource& carrierRead, CountedSource& modulatorRead, int blockFrames) const
{
    return builtInSound ? InputBlocks(carrierRead, modulatorRead, blockFrames, *builtInSound)
                        : InputBlocks(carrierRead, modulatorRead, blockFrames);
}

RunFailure RunInputs::readFailure(InputBlocks::Result failed)
{
    if (failed == InputBlocks::Result::ModulatorFailed)
        return failure(
            message::modulatorNotRead, settings.modulatorPath, modulatorSource->failureCause());
    // A repeated carrier that cannot be opened again is refused as at the start.
    return failure(repeatingCarrier && repeatingCarrier->reopenFailed() ? message::carrierNotOpened
                                                                        : message::carrierNotRead,
        settings.carrierPath, carrierSource->failureCause());
}

// Each input's length as read: the one that ran out whole, the other counted on for up to ten
// minutes past the end (a carrier that is repeated or made has no end of its own).
void RunInputs::countLengths(
    CountedSource& carrierRead, CountedSource& modulatorRead, int blockFrames)
{
    constexpr std::uint64_t secondsCounted = 600;
    const std::uint32_t rate = carrierRead.sampleRate();
    std::vector<double> scratch(static_cast<std::size_t>(blockFrames));
    const bool carrierShortBefore = endedEarly(carrierFile);
    const bool modulatorShortBefore = endedEarly(modulatorFile);
    const InputLengths lengths = countInputLengths(carrierRead, modulatorRead,
        builtInCarrier() || repeatingCarrier != nullptr, secondsCounted * rate, scratch, stop);
    if (!carrierShortBefore && endedEarly(carrierFile))
        countedToItsEnd = &carrierFile;
    if (!modulatorShortBefore && endedEarly(modulatorFile))
        countedToItsEnd = &modulatorFile;
    if (rate == 0)
        return;
    modulatorSeconds = static_cast<double>(lengths.modulatorFrames) / rate;
    // A repeated carrier's first pass, when longer than the voice, is still cut at its end: its
    // length as the file gave it, before the repeat.
    carrierSeconds = repeatingCarrier != nullptr
        ? std::max(carrierSeconds, modulatorSeconds)
        : static_cast<double>(lengths.carrierFrames) / rate;
    leftOutAtLeast = lengths.longerNotCountedToTheEnd;
}

// The modulator, whose end ends the run, is named first.
std::optional<ShortInput> RunInputs::shortInput() const
{
    for (const MonoInput* input : { &modulatorFile, &carrierFile }) {
        if (input == countedToItsEnd)
            continue;
        if (endedEarly(*input))
            return ShortInput { input == &modulatorFile,
                inputSeconds(*input, input->reader->dataBytesRead()),
                inputSeconds(*input, input->reader->dataLength()) };
    }
    return std::nullopt;
}

// Opens one input: an 8- or 16-bit wave file as before, anything else through libsndfile. A file
// neither reads keeps the message it has always had, with the cause on its second line.
std::optional<RunFailure> RunInputs::openInput(InputRole role)
{
    const bool isCarrier = role == InputRole::Carrier;
    MonoInput& input = isCarrier ? carrierFile : modulatorFile;
    const std::string& path = isCarrier ? settings.carrierPath : settings.modulatorPath;
    const InputMessages& text = isCarrier ? carrierMessages : modulatorMessages;
    std::unique_ptr<InputSource>& source = isCarrier ? carrierSource : modulatorSource;

    wave::WaveFileError why;
    input.reader = wave::openWaveReader(path, &input.format, &input.dataLength, &why);
    // A file that another run writes is not read, by either reader.
    if (wave::isLockRefusal(why))
        return failure(text.notOpened, path, wave::describe(why));
    if (readsAsBefore(input)) {
        if (readInput) {
            input.readBytes
                = [this, role](wave::WaveReader& reader, void* buffer, std::size_t count) {
                      return readInput(role, reader, buffer, count);
                  };
        }
        if (!input.isMono() && !(input.interleaved = takeBuffer(interleavedBufferBytes)))
            return failure(text.buffer);
        std::uint8_t* block = (isCarrier ? carrierBlock : modulatorBlock).get();
        source = std::make_unique<WaveInputSource>(input, block, role);
        return std::nullopt;
    }

    // libsndfile reads the very file that is held locked; one that cannot be held (a FIFO, a
    // device, a missing file) is refused here, before anything could wait on it.
    wave::WaveFileError lockWhy;
    wave::FileHandle heldOpen = wave::holdForReading(path, &lockWhy);
    if (!heldOpen)
        return failure(text.notOpened, path, wave::describe(lockWhy));
    wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
    std::string cause;
    auto reader = wave::openSoundFileOn(::fileno(heldOpen.get()),
        static_cast<std::size_t>(InputBlocks::maxFrames / 2), &refusal, &cause);
    if (reader) {
        input.reader.reset();
        input.heldOpen = std::move(heldOpen);
        if (isCarrier)
            carrierSoundFormat = reader->format();
        source = std::make_unique<SoundInputSource>(std::move(reader), role);
        return std::nullopt;
    }
    if (refusal == wave::SoundFileRefusal::Channels)
        return failure(text.channels, path, cause);
    if (input.reader) {
        // A wave file that neither reads: refused as it always was, unless its channels or its
        // rate are beyond every reader, which then is the cause, whatever its depth.
        if (input.format.channels == 0 || input.format.channels > wave::mostChannels)
            return failure(
                text.channels, path, std::to_string(input.format.channels) + " channels");
        if (!isVocodablePcm(input))
            return failure(text.notPcm, path, whyNotVocodable(input));
        return failure(text.channels, path, std::to_string(input.format.channels) + " channels");
    }
    if (refusal == wave::SoundFileRefusal::SampleRate)
        return failure(text.notPcm, path, cause);
    // A wave file keeps the cause the wave reader gives; anything else gets libsndfile's.
    if (why.problem != wave::WaveFileProblem::NotRiffWave)
        return failure(text.notOpened, path, wave::describe(why));
    return failure(text.notOpened, path, cause);
}

// A modulator at another rate than the carrier's is resampled to it as it is read.
std::optional<RunFailure> RunInputs::matchRates()
{
    const std::uint32_t carrierRate = carrierSource->sampleRate();
    const std::uint32_t modulatorRate = modulatorSource->sampleRate();
    if (carrierRate == modulatorRate)
        return std::nullopt;
    // Rates too far apart would keep libsoxr busy for minutes or take all memory.
    if (!wave::canResample(modulatorRate, carrierRate)) {
        const bool up = carrierRate > modulatorRate;
        return failure(message::sampleRatesDiffer, settings.modulatorPath,
            "the modulator's " + std::to_string(modulatorRate) + " Hz is more than "
                + std::to_string(
                    static_cast<int>(up ? wave::mostUpsampling : wave::mostDownsampling))
                + (up ? " times below" : " times above") + " the carrier's "
                + std::to_string(carrierRate) + " Hz");
    }
    std::string cause;
    // A stop is seen between the resampler's steps, not only between blocks.
    auto resampled = ResampledSource::create(
        std::move(modulatorSource), carrierRate, cause, [this] { return stop.load(); });
    if (!resampled)
        return failure(message::modulatorNotRead, settings.modulatorPath, cause);
    modulatorSource = std::move(resampled);
    conversion = "modulator resampled from " + std::to_string(modulatorRate) + " Hz to "
        + std::to_string(carrierRate) + " Hz";
    return std::nullopt;
}

// The built-in sound stands in for the carrier file: at the modulator's own rate, so nothing is
// resampled, and 16-bit unless the modulator is wider. A Preview's follow sound keeps in step
// with what is heard rather than listening ahead.
void RunInputs::makeBuiltInCarrier()
{
    auto made
        = std::make_unique<BuiltInCarrierSource>(settings.carrier, modulatorSource->sampleRate(),
            builtInDepth(modulatorSource->depth()), settings.mode != JobMode::Preview,
            settings.vectors.unit);
    builtInSound = made.get();
    carrierSource = std::move(made);
}

// The carrier file is played again from its start whenever it ends, crossfaded at each seam.
void RunInputs::repeatCarrier()
{
    const std::size_t fadeFrames = seamFadeFrames(carrierSource->sampleRate());
    // A short carrier read through libsndfile is decoded once and played from memory.
    const std::size_t keptFrames = carrierFile.reader ? 0 : carrierKeptFrames;
    auto repeating = std::make_unique<RepeatingSource>(
        std::move(carrierSource), [this](std::string& cause) { return reopenCarrier(cause); },
        fadeFrames, keptFrames);
    repeatingCarrier = repeating.get();
    carrierSource = std::move(repeating);
}

// Opens the carrier again to repeat it, by the reader that first opened it; it must still have
// the format the run started with.
std::unique_ptr<InputSource> RunInputs::reopenCarrier(std::string& cause)
{
    const std::string changed = "it changed while it was being repeated";
    if (carrierFile.reader) {
        wave::WaveFormat format;
        std::uint32_t dataLength = 0;
        wave::WaveFileError why;
        auto reader = wave::openWaveReader(settings.carrierPath, &format, &dataLength, &why);
        if (!reader) {
            cause = wave::describe(why);
            return nullptr;
        }
        const wave::WaveFormat& first = carrierFile.format;
        if (format.channels != first.channels || format.bitsPerSample != first.bitsPerSample
            || format.sampleRate != first.sampleRate || format.formatTag != first.formatTag) {
            cause = changed;
            return nullptr;
        }
        carrierFile.reader = std::move(reader);
        carrierFile.dataLength = dataLength;
        return std::make_unique<WaveInputSource>(
            carrierFile, carrierBlock.get(), InputRole::Carrier);
    }
    // Each pass is held locked as the first was, and read from the very file held.
    wave::WaveFileError lockWhy;
    wave::FileHandle heldOpen = wave::holdForReading(settings.carrierPath, &lockWhy);
    if (!heldOpen) {
        cause = wave::describe(lockWhy);
        return nullptr;
    }
    wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
    auto reader = wave::openSoundFileOn(::fileno(heldOpen.get()),
        static_cast<std::size_t>(InputBlocks::maxFrames / 2), &refusal, &cause);
    if (!reader)
        return nullptr;
    const wave::SoundFileFormat& format = reader->format();
    if (format.channels != carrierSoundFormat.channels
        || format.bitsPerSample != carrierSoundFormat.bitsPerSample
        || format.sampleRate != carrierSoundFormat.sampleRate
        || format.encoding != carrierSoundFormat.encoding) {
        cause = changed;
        return nullptr;
    }
    carrierFile.heldOpen = std::move(heldOpen);
    return std::make_unique<SoundInputSource>(std::move(reader), InputRole::Carrier);
}

int InputBlockSource::readBlock(
    std::span<double> carrier, std::span<double> modulator, std::uint64_t& framesTaken)
{
    int frameCount = 0;
    const InputBlocks::Result result = inputs.read(carrier, modulator, frameCount);
    framesTaken = inputs.framesTaken();
    switch (result) {
    case InputBlocks::Result::Block:
        return frameCount;
    case InputBlocks::Result::End:
        return 0;
    default:
        failed = result;
        return -1;
    }
}

// Read as a Vocode reads a carrier through libsndfile, brought to the rate by the same resampler
// a Vocode brings its modulator with, then scaled to 16-bit units (a power of two: every value is
// what scaling before the resampler would give).
std::optional<std::vector<double>> loadLiveCarrier(
    const std::string& path, std::uint32_t sampleRate, std::string& problem)
{
    constexpr std::size_t blockFrames = 4096;
    wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
    std::string cause;
    auto reader = wave::openSoundFile(path, blockFrames, &refusal, &cause);
    if (!reader) {
        problem = "the carrier '" + path + "' could not be opened: " + cause;
        return std::nullopt;
    }
    // 8-bit files come in 8-bit units; the engine takes every carrier in 16-bit ones here.
    const double scale = 32768.0 / reader->unitsPerFullScale();
    auto file = std::make_unique<SoundInputSource>(std::move(reader), InputRole::Carrier);
    const InputSource& read = *file;
    std::unique_ptr<InputSource> source = std::move(file);
    if (read.sampleRate() != sampleRate) {
        source = ResampledSource::create(std::move(source), sampleRate, cause);
        if (!source) {
            problem = "the carrier '" + path + "' could not be resampled: " + cause;
            return std::nullopt;
        }
    }
    // Room for a few minutes is taken at once and the rest as it comes: a header may declare more
    // frames than its file holds, or than any memory would.
    constexpr std::uint64_t mostReserved = std::uint64_t { 1 } << 23;
    std::vector<double> samples;
    std::vector<double> block(blockFrames);
    try {
        samples.reserve(std::min(source->frameCount(), mostReserved) + blockFrames);
        for (;;) {
            const std::int64_t frames = source->read(block);
            if (frames < 0) {
                // The file's own failure, else the resampler's.
                const std::string fileCause = read.failureCause();
                problem = "the carrier '" + path + "' could not be "
                    + (fileCause.empty() ? "resampled: " + source->failureCause()
                                         : "read: " + fileCause);
                return std::nullopt;
            }
            if (frames == 0)
                break;
            for (std::int64_t i = 0; i < frames; ++i)
                samples.push_back(block[static_cast<std::size_t>(i)] * scale);
        }
    } catch (const std::bad_alloc&) {
        problem = "the carrier '" + path + "' is too long to be held in memory";
        return std::nullopt;
    }
    return samples;
}

} // namespace lumivox::job
