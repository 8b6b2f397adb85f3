#include "output_file.h"

#include "job_settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lumivox::job {

namespace {

    // The frames a normalized output's second pass takes at a time.
    constexpr std::size_t passFrames = 4096;

    // An unnamed file in the output's folder (the same disk, so that the room the output needs is
    // what is checked), or in the system's temporary folder when that folder takes none. It goes
    // away with its handle, whatever way the run ends.
    wave::FileHandle unnamedTemporary(const std::string& outputPath, int& code)
    {
        const auto slash = outputPath.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "."
            : slash == 0                                      ? "/"
                                                              : outputPath.substr(0, slash);
        int descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            code = errno;
            std::FILE* file = std::tmpfile();
            if (file == nullptr)
                return nullptr;
            return wave::FileHandle(file);
        }
        std::FILE* file = ::fdopen(descriptor, "w+b");
        if (file == nullptr) {
            code = errno;
            ::close(descriptor);
        }
        return wave::FileHandle(file);
    }

} // namespace

OutputFile::OutputFile(wave::OutputDepth depth)
    : encoder_(depth)
    , depth_(depth)
    , bytes_(passFrames * 4)
{
}

OutputFile::~OutputFile() { static_cast<void>(finish()); }

std::unique_ptr<OutputFile> OutputFile::open(
    const OutputPlan& plan, wave::WaveFileError& why, std::string& cause)
{
    const wave::OutputContainerChoice choice = wave::outputContainerFor(plan.path);
    const wave::OutputDepth depth = wave::depthStoredIn(choice.container, plan.depth);
    std::unique_ptr<OutputFile> output(new OutputFile(depth));
    output->unknownEnding_ = choice.unknownEnding;
    output->sampleRate_ = plan.sampleRate;
    if (plan.normalizeDecibels) {
        int code = 0;
        output->staged_ = unnamedTemporary(plan.path, code);
        if (!output->staged_) {
            cause = std::string("no temporary file for the normalized output could be made: ")
                + std::strerror(code != 0 ? code : EIO);
            return nullptr;
        }
        output->normalizeDecibels_ = plan.normalizeDecibels;
    }
    if (choice.container == wave::OutputContainer::Wave) {
        output->wave_ = wave::createWaveWriter(plan.path, plan.waveFormat, {}, &why);
        if (!output->wave_)
            return nullptr;
    } else {
        output->sound_ = wave::SoundFileWriter::create(
            plan.path, choice.container, depth, plan.sampleRate, cause);
        if (!output->sound_)
            return nullptr;
    }
    return output;
}

bool OutputFile::store(std::span<const double> results, double gain)
{
    for (std::size_t start = 0; start < results.size(); start += passFrames) {
        const auto part = results.subspan(start, std::min(passFrames, results.size() - start));
        const std::size_t byteCount = encoder_.encode(part, gain, bytes_.data());
        if (wave_) {
            if (wave::writeWave(*wave_, bytes_.data(), byteCount)
                != static_cast<std::int64_t>(byteCount))
                return false;
        } else if (!sound_ || !sound_->write(bytes_.data(), part.size())) {
            return false;
        }
    }
    return true;
}

bool OutputFile::stageFailed(int code)
{
    if (cause_.empty())
        cause_ = std::strerror(code != 0 ? code : EIO);
    return false;
}

bool OutputFile::write(std::span<const double> results, double gain)
{
    if (!normalizeDecibels_)
        return store(results, gain);
    if (!cause_.empty())
        return false;
    for (const double y : results) {
        if (std::isfinite(y))
            loudest_ = std::max(loudest_, std::abs(y));
    }
    stagedGain_ = gain;
    errno = 0;
    if (std::fwrite(results.data(), sizeof(double), results.size(), staged_.get())
        != results.size())
        return stageFailed(errno);
    return true;
}

// The second pass: the results as made, scaled so that the loudest lands on the peak asked for,
// and stored once.
bool OutputFile::writeNormalized()
{
    const double decibels
        = std::clamp(*normalizeDecibels_, lowestNormalizeDecibels, highestNormalizeDecibels);
    const double target = std::pow(10.0, decibels / 20.0) * fullScaleOf(depth_);
    const double scale = loudest_ > 0.0 ? target / loudest_ : 1.0;
    normalizedBy_ = 20.0 * std::log10(scale);
    std::FILE* staged = staged_.get();
    errno = 0;
    if (std::fflush(staged) != 0 || std::fseek(staged, 0, SEEK_SET) != 0)
        return stageFailed(errno);
    std::vector<double> block(passFrames);
    for (;;) {
        const std::size_t frames = std::fread(block.data(), sizeof(double), passFrames, staged);
        if (frames == 0)
            break;
        for (std::size_t i = 0; i < frames; ++i)
            block[i] *= scale;
        if (!store(std::span<const double>(block.data(), frames), stagedGain_ * scale))
            return false;
    }
    if (std::ferror(staged))
        return stageFailed(errno);
    return true;
}

bool OutputFile::finish()
{
    if (finished_)
        return cause_.empty() && !(wave_ && wave_->failed());
    finished_ = true;
    bool good = true;
    if (normalizeDecibels_ && cause_.empty())
        good = writeNormalized();
    if (normalizeDecibels_)
        staged_.reset();
    if (wave_) {
        wave::WaveFileError why;
        auto writer = std::move(wave_);
        if (!wave::closeWave(std::move(writer), &why)) {
            if (cause_.empty())
                cause_ = wave::describe(why);
            good = false;
        }
    }
    if (sound_ && !sound_->close()) {
        if (cause_.empty())
            cause_ = sound_->failureCause();
        good = false;
    }
    return good && cause_.empty();
}

std::string OutputFile::failureCause() const
{
    if (!cause_.empty())
        return cause_;
    if (wave_ && wave_->failed())
        return wave::describe(wave_->failure());
    if (sound_)
        return sound_->failureCause();
    return {};
}

} // namespace lumivox::job
