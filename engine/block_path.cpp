#include "block_path.h"

#include "band_worker.h"
#include "filter_bank.h"
#include "spin_wait.h"
#include "spread.h"
// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "block_kernel.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace lumivox::engine {

// The two halves of the work, compiled once per instruction set. Their arithmetic is the same
// element by element, with no contraction anywhere.
struct BlockBody {
    void (*analyse)(BandLanes&, FrameRows&, int firstBand, int endBand, const double* carrier,
        const double* modulator, int frameCount, bool formProducts);
    // A whole number of the unit's lane groups and of cache lines of a row (8 doubles), so that
    // the two threads never write to the same line.
    int bandsPerTask;
    void (*finish)(FrameRows&, const kernel::BlockSettings&, int first, int end, double* output);
    // Analysis of the bands [0, endBand) adding their products to the frames' partial sums.
    void (*analyseSumming)(BandLanes&, FrameRows&, int endBand, const double* carrier,
        const double* modulator, int frameCount);
    // Both halves at once on one thread, without Vagueness and Instrument Clearance.
    void (*analyseAndFinish)(BandLanes&, FrameRows&, const double* carrier, const double* modulator,
        int frameCount, double outputGain, double* output);
    int width; // lanes per vector
    // The modulator side and the carrier side of at most a chunk of frames.
    void (*modulatorSide)(BandLanes&, FrameRows&, const kernel::BlockSettings&,
        const double* modulator, int frameCount, double* handOver);
    void (*carrierSide)(BandLanes&, FrameRows&, const kernel::BlockSettings&, const double* carrier,
        const double* handOver, int frameCount, double* output);
};

namespace {

    using kernel::BlockSettings;

    // Frames per run of the work area on one thread: few enough for the work area to stay in the
    // second-level cache, many enough that each group's states are loaded and stored rarely.
    constexpr int chunkFrames = 64;
    // Frames per run shared by two threads: each run costs a hand-over and two waits.
    constexpr int sharedRunFrames = 512;
    // Shorter blocks stay on one thread: handing them over would cost more than it saves.
    constexpr int twoThreadMinimumFrames = 1024;

// The entry points of one instruction set. Each inlines the kernel under its unit's target
// attribute, so the one source gives every unit its own machine code.
#define LUMIVOX_BLOCK_BODY(Unit, Attributes, Width)                                                \
    Attributes void analyse##Unit(BandLanes& lanes, FrameRows& rows, int firstBand, int endBand,   \
        const double* carrier, const double* modulator, int frameCount, bool formProducts)         \
    {                                                                                              \
        kernel::analyse<Width>(                                                                    \
            lanes, rows, firstBand, endBand, carrier, modulator, frameCount, formProducts);        \
    }                                                                                              \
    Attributes void finish##Unit(                                                                  \
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)        \
    {                                                                                              \
        kernel::finish<Width>(rows, settings, first, end, output);                                 \
    }                                                                                              \
    Attributes void analyseSumming##Unit(BandLanes& lanes, FrameRows& rows, int endBand,           \
        const double* carrier, const double* modulator, int frameCount)                            \
    {                                                                                              \
        kernel::analyseSumming<Width>(lanes, rows, endBand, carrier, modulator, frameCount);       \
    }                                                                                              \
    Attributes void analyseAndFinish##Unit(BandLanes& lanes, FrameRows& rows,                      \
        const double* carrier, const double* modulator, int frameCount, double outputGain,         \
        double* output)                                                                            \
    {                                                                                              \
        kernel::analyseAndFinish<Width>(                                                           \
            lanes, rows, carrier, modulator, frameCount, outputGain, output);                      \
    }                                                                                              \
    Attributes void modulatorSide##Unit(BandLanes& lanes, FrameRows& rows,                         \
        const BlockSettings& settings, const double* modulator, int frameCount, double* handOver)  \
    {                                                                                              \
        kernel::modulatorSide<Width>(lanes, rows, settings, modulator, frameCount, handOver);      \
    }                                                                                              \
    Attributes void carrierSide##Unit(BandLanes& lanes, FrameRows& rows,                           \
        const BlockSettings& settings, const double* carrier, const double* handOver,              \
        int frameCount, double* output)                                                            \
    {                                                                                              \
        kernel::carrierSide<Width>(lanes, rows, settings, carrier, handOver, frameCount, output);  \
    }                                                                                              \
    BlockBody body##Unit()                                                                         \
    {                                                                                              \
        return { analyse##Unit, 8, finish##Unit, analyseSumming##Unit, analyseAndFinish##Unit,     \
            Width, modulatorSide##Unit, carrierSide##Unit };                                       \
    }

    LUMIVOX_BLOCK_BODY(Portable, , 2)
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_BLOCK_BODY(Sse2, __attribute__((target("sse2"))), 2)
    LUMIVOX_BLOCK_BODY(Avx2, __attribute__((target("avx2"))), 4)
    LUMIVOX_BLOCK_BODY(Avx512, __attribute__((target("avx512f"))), 8)
#endif
#undef LUMIVOX_BLOCK_BODY

    BlockBody bodyFor(VectorUnit unit)
    {
        switch (unit) {
#if defined(__x86_64__) || defined(__i386__)
        case VectorUnit::Sse2:
            return bodySse2();
        case VectorUnit::Avx2:
            return bodyAvx2();
        case VectorUnit::Avx512:
            return bodyAvx512();
#endif
        default:
            return bodyPortable();
        }
    }

    // The units this machine runs, without allocating: processBlock asks on its first call.
    struct MachineUnits {
        std::array<VectorUnit, 4> units { VectorUnit::Portable };
        int count = 1;
    };

    MachineUnits machineUnits()
    {
        MachineUnits machine;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("sse2"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Sse2;
        if (__builtin_cpu_supports("avx2"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Avx2;
        if (__builtin_cpu_supports("avx512f"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Avx512;
#endif
        return machine;
    }

    bool runsHere(VectorUnit unit)
    {
        static const MachineUnits machine = machineUnits();
        const auto end = machine.units.begin() + machine.count;
        return std::find(machine.units.begin(), end, unit) != end;
    }

    // The row of levels that weighted the carrier bands of a frame the finishing step has done.
    const double* usedLevels(FrameRows& rows, const BlockSettings& settings, int frame)
    {
        return settings.smoothing || settings.clearing ? rows.smoothed(frame) : rows.levels(frame);
    }

} // namespace

const char* vectorUnitName(VectorUnit unit)
{
    switch (unit) {
    case VectorUnit::Sse2:
        return "sse2";
    case VectorUnit::Avx2:
        return "avx2";
    case VectorUnit::Avx512:
        return "avx512";
    default:
        return "portable";
    }
}

std::vector<VectorUnit> vectorUnitsOfThisMachine()
{
    const MachineUnits machine = machineUnits();
    return { machine.units.begin(), machine.units.begin() + machine.count };
}

VectorUnit chooseVectorUnit(const char* requested, std::span<const VectorUnit> available)
{
    if (requested != nullptr) {
        for (VectorUnit asked :
            { VectorUnit::Portable, VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512 }) {
            if (std::strcmp(requested, vectorUnitName(asked)) != 0)
                continue;
            VectorUnit chosen = available.front();
            for (VectorUnit unit : available) {
                if (unit <= asked)
                    chosen = unit;
            }
            return chosen;
        }
    }
    return available.back();
}

VectorUnit preferredVectorUnit()
{
    static const VectorUnit preferred = [] {
        const MachineUnits machine = machineUnits();
        return chooseVectorUnit(std::getenv("LUMIVOX_VECTOR_UNIT"),
            std::span(machine.units.begin(), static_cast<std::size_t>(machine.count)));
    }();
    return preferred;
}

bool blockPathEnabled()
{
    static const bool enabled = [] {
        const char* setting = std::getenv("LUMIVOX_BLOCK_PATH");
        return setting == nullptr || std::strcmp(setting, "off") != 0;
    }();
    return enabled;
}

void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    engine.runBlock(runsHere(unit) ? unit : VectorUnit::Portable, carrier, modulator, output);
}

// The work of one shared run, handed out in tasks that either thread claims: first the analysis
// of a few bands over all the run's frames, then the finishing of a range of frames. A thread
// waits only for tasks the other has claimed and not yet done: a worker that comes late, or not at
// all, leaves its share to the owner; one that loses its core in the middle of a task holds the
// owner up until it gets the core back. Each claim counter holds the run's number, the
// run's task count and the next task in one word, so that a late worker can claim nothing of a run
// that is over.
struct BlockPath::Shared {
    static constexpr int finishFrames = 128;

    BlockBody body {};
    BlockSettings settings {};
    BandLanes* lanes = nullptr;
    FrameRows* rows = nullptr;
    const double* carrier = nullptr;
    const double* modulator = nullptr;
    double* output = nullptr;
    int frameCount = 0;

    unsigned run = 0;
    std::atomic<std::uint64_t> analysisClaimed { 0 };
    std::atomic<std::uint64_t> analysisDone { 0 };
    std::atomic<std::uint64_t> finishClaimed { 0 };
    std::atomic<std::uint64_t> finishDone { 0 };
    std::atomic<bool> ownerSleeping { false };

    static std::uint64_t counter(unsigned runNumber, int taskCount, int count)
    {
        return (static_cast<std::uint64_t>(runNumber) << 32)
            | (static_cast<std::uint64_t>(taskCount) << 16) | static_cast<std::uint64_t>(count);
    }

    // Claims the next task of the run, or returns -1 when none is left or the run is over.
    static int claim(std::atomic<std::uint64_t>& claimed, unsigned runNumber)
    {
        std::uint64_t seen = claimed.load(std::memory_order_acquire);
        for (;;) {
            const int next = static_cast<int>(seen & 0xffffu);
            if (seen >> 32 != runNumber || next >= static_cast<int>((seen >> 16) & 0xffffu))
                return -1;
            if (claimed.compare_exchange_weak(
                    seen, seen + 1, std::memory_order_acq_rel, std::memory_order_acquire))
                return next;
        }
    }

    // With summed bands, task 0 analyses and sums them all, in band order; the other tasks form
    // the products of the rest.
    static int analysisTaskCount(const BlockBody& body, const BlockSettings& settings)
    {
        return (settings.summedBands > 0 ? 1 : 0)
            + (bandCount - settings.summedBands) / body.bandsPerTask;
    }

    void analyseTask(int task) const
    {
        if (settings.summedBands > 0) {
            if (task == 0) {
                body.analyseSumming(
                    *lanes, *rows, settings.summedBands, carrier, modulator, frameCount);
                return;
            }
            --task;
        }
        const int firstBand = settings.summedBands + task * body.bandsPerTask;
        body.analyse(*lanes, *rows, firstBand, firstBand + body.bandsPerTask, carrier, modulator,
            frameCount, settings.productsFormed);
    }

    void finishTask(int task) const
    {
        const int first = task * finishFrames;
        body.finish(*rows, settings, first, std::min(first + finishFrames, frameCount), output);
    }

    // Does tasks of one kind until none is left to claim, waking the owner if it sleeps waiting
    // for them (sequentially consistent with its going to sleep in waitForCount).
    template <typename Work>
    void doTasks(std::atomic<std::uint64_t>& claimed, std::atomic<std::uint64_t>& done,
        unsigned runNumber, Work work)
    {
        for (int task; (task = claim(claimed, runNumber)) >= 0;) {
            work(task);
            done.fetch_add(1);
            if (ownerSleeping.load())
                done.notify_all();
        }
    }

    // Waits until done counts wanted tasks: the other thread is in the middle of one it claimed,
    // which takes tens of microseconds, unless a busy machine took its core away. It spins that
    // long before it sleeps, for waking a sleeping thread can itself take tens of microseconds
    // (more on a virtual machine), longer than a run. Returns how long it slept.
    std::chrono::steady_clock::duration waitForCount(
        const std::atomic<std::uint64_t>& done, std::uint64_t wanted)
    {
        if (spinUntil([&] { return done.load(std::memory_order_acquire) == wanted; }))
            return {};
        const auto asleep = std::chrono::steady_clock::now();
        ownerSleeping.store(true);
        for (std::uint64_t seen; (seen = done.load()) != wanted;)
            done.wait(seen);
        ownerSleeping.store(false);
        return std::chrono::steady_clock::now() - asleep;
    }

    // The worker's part of run runNumber.
    static void help(void* context, unsigned runNumber)
    {
        Shared& shared = *static_cast<Shared*>(context);
        shared.doTasks(shared.analysisClaimed, shared.analysisDone, runNumber,
            [&shared](int task) { shared.analyseTask(task); });
        // Finishing opens once every band is analysed, which is at most one task of the
        // owner's away: a wait of tens of microseconds, worth it for half the finishing. If the
        // owner has lost its core, the worker gives up and the owner finishes alone.
        bool finishingOpen = false;
        spinUntil([&] {
            finishingOpen = shared.finishClaimed.load(std::memory_order_acquire) >> 32 == runNumber;
            // A later run having begun ends the wait too.
            return finishingOpen
                || shared.analysisClaimed.load(std::memory_order_acquire) >> 32 != runNumber;
        });
        if (finishingOpen)
            shared.doTasks(shared.finishClaimed, shared.finishDone, runNumber,
                [&shared](int task) { shared.finishTask(task); });
    }
};

BlockPath::BlockPath()
    : rows(chunkFrames)
    , modulatorRows(chunkFrames)
    , carrierRows(chunkFrames)
{
}

BlockPath::~BlockPath() = default;

bool BlockPath::setTwoThreads(bool enabled)
{
    if (!enabled) {
        worker.reset();
        return false;
    }
    if (worker)
        return true;
    if (std::thread::hardware_concurrency() < 2)
        return false;
    if (!sharedRows)
        sharedRows = std::make_unique<FrameRows>(sharedRunFrames);
    if (!shared)
        shared = std::make_unique<Shared>();
    try {
        worker = std::make_unique<BandWorker>(Shared::help, shared.get());
    } catch (const std::system_error&) {
        return false; // no thread to be had: one thread does it all, as before
    }
    return true;
}

const double* BlockPath::runShared(const BlockBody& body, const BlockSettings& settings,
    const double* carrier, const double* modulator, double* output, int frameCount)
{
    Shared& work = *shared;
    const auto begun = std::chrono::steady_clock::now();
    const unsigned runNumber = work.run + 1 == 0 ? 1 : work.run + 1; // the worker starts from 0

    const int finishTasks = (frameCount + Shared::finishFrames - 1) / Shared::finishFrames;
    work.body = body;
    work.settings = settings;
    // Where nothing changes the levels, one task analyses the lower half of the bands and sums
    // their products as it goes, and the others form the products of the upper half: finishing
    // then adds 16 products to each partial sum instead of multiplying and adding 32.
    work.settings.productsFormed = !settings.smoothing && !settings.clearing;
    work.settings.summedBands = work.settings.productsFormed ? bandCount / 2 : 0;
    const int analysisTasks = Shared::analysisTaskCount(body, work.settings);
    work.lanes = &lanes;
    work.rows = sharedRows.get();
    work.carrier = carrier;
    work.modulator = modulator;
    work.output = output;
    work.frameCount = frameCount;
    work.run = runNumber;
    work.analysisDone.store(0, std::memory_order_relaxed);
    work.finishDone.store(0, std::memory_order_relaxed);
    work.analysisClaimed.store(
        Shared::counter(runNumber, analysisTasks, 0), std::memory_order_release);
    const bool workerWoken = worker->post(runNumber);

    work.doTasks(work.analysisClaimed, work.analysisDone, runNumber,
        [&work](int task) { work.analyseTask(task); });
    auto waited = work.waitForCount(work.analysisDone, static_cast<std::uint64_t>(analysisTasks));
    work.finishClaimed.store(Shared::counter(runNumber, finishTasks, 0), std::memory_order_release);
    work.doTasks(work.finishClaimed, work.finishDone, runNumber,
        [&work](int task) { work.finishTask(task); });
    waited += work.waitForCount(work.finishDone, static_cast<std::uint64_t>(finishTasks));

    backoff.afterSharedRun(workerWoken, waited, std::chrono::steady_clock::now() - begun);
    return usedLevels(*work.rows, work.settings, frameCount - 1);
}

const double* BlockPath::runAlone(const BlockBody& body, const BlockSettings& settings,
    const double* carrier, const double* modulator, double* output, int frameCount)
{
    const bool together = !settings.smoothing && !settings.clearing;
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        if (together) {
            body.analyseAndFinish(lanes, rows, carrier + start, modulator + start, frames,
                settings.outputGain, output + start);
        } else {
            body.analyse(
                lanes, rows, 0, bandCount, carrier + start, modulator + start, frames, false);
            body.finish(rows, settings, 0, frames, output + start);
        }
    }
    return usedLevels(rows, settings, (frameCount - 1) % chunkFrames);
}

namespace {

    BlockSettings settingsFor(const Spread& spread, double clearance, double outputGain)
    {
        BlockSettings settings {};
        settings.weights = spread.weights.data();
        settings.denominators = spread.denominators.data();
        settings.reach = spread.reach;
        settings.smoothing = spread.vagueness > 0.0;
        settings.weightsAllOne = std::all_of(spread.weights.begin() + 1,
            spread.weights.begin() + 1 + spread.reach, [](double weight) { return weight == 1.0; });
        settings.clearance = clearance;
        settings.clearing = clearance > 0.0;
        settings.outputGain = outputGain;
        return settings;
    }

} // namespace

void BlockPath::modulatorSide(VectorUnit unit, FilterBank& bank, const Spread& spread,
    double clearance, const double* modulator, double* handOver, int frameCount)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, clearance, 0.0);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int envelopeSections
        = kernel::envelopeSectionsOnModulatorSide(settings.smoothing, body.width);
    modulatorLanes.loadModulatorSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.modulatorSide(modulatorLanes, modulatorRows, settings, modulator + start, frames,
            handOver + static_cast<std::ptrdiff_t>(start) * bandCount);
    }
    modulatorLanes.storeModulatorSideStates(bank, envelopeSections);
}

void BlockPath::carrierSide(VectorUnit unit, FilterBank& bank, const Spread& spread,
    double clearance, double outputGain, const double* carrier, const double* handOver,
    double* output, int frameCount, std::array<double, bandCount>& lastLevels)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, clearance, outputGain);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int envelopeSections
        = kernel::envelopeSectionsOnModulatorSide(settings.smoothing, body.width);
    carrierLanes.loadCarrierSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.carrierSide(carrierLanes, carrierRows, settings, carrier + start,
            handOver + static_cast<std::ptrdiff_t>(start) * bandCount, frames, output + start);
    }
    carrierLanes.storeCarrierSideStates(bank, envelopeSections);
    const double* last = settings.smoothing || settings.clearing
        ? carrierRows.smoothed((frameCount - 1) % chunkFrames)
        : carrierRows.levels((frameCount - 1) % chunkFrames);
    std::copy(last, last + bandCount, lastLevels.begin());
}

void BlockPath::run(VectorUnit unit, FilterBank& bank, const Spread& spread, double clearance,
    double outputGain, const double* carrier, const double* modulator, double* output,
    int frameCount, std::array<double, bandCount>& lastLevels)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, clearance, outputGain);
    const BlockBody body = bodyFor(unit);

    lanes.load(bank);
    const double* last = nullptr;
    if (worker && frameCount >= twoThreadMinimumFrames) {
        for (int start = 0; start < frameCount; start += sharedRunFrames) {
            const int frames = std::min(sharedRunFrames, frameCount - start);
            if (backoff.shareNext()) {
                last = runShared(
                    body, settings, carrier + start, modulator + start, output + start, frames);
            } else {
                last = runAlone(
                    body, settings, carrier + start, modulator + start, output + start, frames);
            }
        }
    } else {
        last = runAlone(body, settings, carrier, modulator, output, frameCount);
    }
    lanes.storeStates(bank);
    std::copy(last, last + bandCount, lastLevels.begin());
}

} // namespace lumivox::engine
