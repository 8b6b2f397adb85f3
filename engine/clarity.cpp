#include "clarity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "block_path.h"
#include "engine_constants.h"

namespace lumivox::engine {

namespace {

    using FastLanes = ClarityStage::FastLanes;
    using SideLanes = ClarityStage::SideLanes;

    // Every filter is a Butterworth design for the bank's design rate, 44100 Hz, and moves with
    // the rate as the bands do.

    // The fast bands, 100-150, 150-225, 225-340 and 340-500 Hz, each of 4th order in two
    // sections with the numerator 1 - z^-2: the input gain and each section's a1 and a2, for the
    // modulator's lanes and again for the carrier's.
    constexpr FastLanes fastGain = { 1.2623465123852676e-05, 2.833164962007593e-05,
        6.6344671993554512e-05, 0.00012784967235737372, 1.2623465123852676e-05,
        2.833164962007593e-05, 6.6344671993554512e-05, 0.00012784967235737372 };
    constexpr FastLanes fastA1[2] = {
        { -1.9954716370444148, -1.993044429714633, -1.9890156799792214, -1.9835860220023549,
            -1.9954716370444148, -1.993044429714633, -1.9890156799792214, -1.9835860220023549 },
        { -1.9938464485795091, -1.9904790418759213, -1.9847263582869714, -1.9773336050229096,
            -1.9938464485795091, -1.9904790418759213, -1.9847263582869714, -1.9773336050229096 },
    };
    constexpr FastLanes fastA2[2] = {
        { 0.99569883650362279, 0.99355506819187311, 0.99016483651504172, 0.98618575665633668,
            0.99569883650362279, 0.99355506819187311, 0.99016483651504172, 0.98618575665633668 },
        { 0.99425245631671322, 0.99139121298468802, 0.98680024101088981, 0.981838879235435,
            0.99425245631671322, 0.99139121298468802, 0.98680024101088981, 0.981838879235435 },
    };

    // The side filters: a 2nd-order high-pass at 2 kHz on the modulator (the hiss band), a
    // 2nd-order low-pass at 800 Hz on the modulator (the voiced band), a 1st-order low-pass at
    // 300 Hz on the engine's output (what is taken away of the bank's lowest region; taking away
    // a 1st-order low-pass leaves a 1st-order high-pass, which raises no frequency) and a one-pole
    // follower of the rectified carrier over about 20 ms (its level).
    constexpr SideLanes sideGain = { 0.81736534719886655, 0.0030028859801922276,
        0.02092731911843116, 0.0011331443546038766 };
    constexpr SideLanes sideB1 = { -2.0, 2.0, 1.0, 0.0 };
    constexpr SideLanes sideB2 = { 1.0, 1.0, 0.0, 0.0 };
    constexpr SideLanes sideA1
        = { -1.6010923941836188, -1.8391167973252027, -0.95814536176313769, -0.9988668556453961 };
    constexpr SideLanes sideA2 = { 0.66836899461184729, 0.8511283412459717, 0.0, 0.0 };

    // One-pole rates 1 - exp(-1 / (seconds * 44100)).
    constexpr double envelopeRate = 0.005652896153250597; // 4 ms
    constexpr double energyRate = 0.004524879139899296; // 5 ms

    // A wide band's level is larger than a bank band's; half the bank's level scale keeps the
    // region about as loud as the bank made it.
    constexpr double fastWeight = 0.5 * levelScale;
    // The passed hiss stands to the carrier's mean level a quarter as high as the vocoded sound
    // of a full-band carrier stands to its modulator: enough to be heard, not enough to mask.
    constexpr double hissWeight = 2.0;

    // Each lane's absolute value: its sign bit cleared, one AND instead of a compare and a blend.
    inline __attribute__((always_inline)) void takeMagnitudes(SideLanes& lanes)
    {
        typedef std::uint64_t Bits __attribute__((vector_size(sizeof(SideLanes))));
        constexpr Bits allButSign = ~(Bits {} + (std::uint64_t { 1 } << 63));
        lanes = reinterpret_cast<SideLanes>(reinterpret_cast<Bits>(lanes) & allButSign);
    }

    // What one frame's input filters and followers leave for its lead: the fast carrier bands
    // weighted by their levels, the side filters' outputs and their energies.
    struct InputValues {
        SideLanes products, side, energies;
    };

    // The recurrences on the inputs: every filter and follower advances by one sample. The side
    // filters' third lane belongs to the output part and is left at zero here.
    inline __attribute__((always_inline)) InputValues advanceInputs(
        ClarityStage::InputState& s, double carrier, double modulator)
    {
        FastLanes x = FastLanes {
            modulator, modulator, modulator, modulator, carrier, carrier, carrier, carrier
        } * fastGain;
        // Each section's two states are held negated (w = -z): x + z1 is x - w1, and the new
        // states come out without the negations the numerator 1 - z^-2 would take, exactly.
        for (int k = 0; k < 2; ++k) {
            const FastLanes y = x - s.w1[k];
            s.w1[k] = s.w2[k] + fastA1[k] * y;
            s.w2[k] = x + fastA2[k] * y;
            x = y;
        }
        const SideLanes in = SideLanes { modulator, modulator, 0.0, std::fabs(carrier) } * sideGain;
        const SideLanes side = in + s.side1;
        s.side1 = sideB1 * in + s.side2 - sideA1 * side;
        s.side2 = sideB2 * in - sideA2 * side;

        const SideLanes carrierBands = { x[4], x[5], x[6], x[7] };
        SideLanes rectified = { x[0], x[1], x[2], x[3] };
        takeMagnitudes(rectified);
        s.envelopes += envelopeRate * (rectified - s.envelopes);
        s.energies += energyRate * (side * side - s.energies);
        return { carrierBands * s.envelopes, side, s.energies };
    }

    // What the stage adds for a frame before the output gain and without the bank's lowest region
    // taken away: the fast bands and the passed hiss. No state, so that a run of frames fills
    // vector lanes.
    inline __attribute__((always_inline)) double lead(double product0, double product1,
        double product2, double product3, double hiss, double carrierLevel, double hissEnergy,
        double voicedEnergy)
    {
        const double fast = fastWeight * (((product0 + product1) + product2) + product3);
        // Near 1 where the hiss band dominates (s, f, sh), near 0 in vowels; never 0 / 0.
        const double unvoiced = hissEnergy / (hissEnergy + voicedEnergy + 1e-30);
        const double passed = hissWeight * carrierLevel * unvoiced * hiss;
        return fast + passed;
    }

    inline __attribute__((always_inline)) double leadOf(const InputValues& v)
    {
        return lead(v.products[0], v.products[1], v.products[2], v.products[3], v.side[0],
            v.side[3], v.energies[0], v.energies[1]);
    }

    // The output part of a frame: the side filters' third lane (the bank's lowest region, from the
    // engine's output) by the same arithmetic as the other lanes, and the frame's result.
    inline __attribute__((always_inline)) double finish(ClarityStage::OutputState& s,
        double amount, double vocoded, double frameLead, double gain)
    {
        const double in = vocoded * sideGain[2];
        const double bankRegion = in + s.z1;
        s.z1 = sideB1[2] * in + s.z2 - sideA1[2] * bankRegion;
        s.z2 = sideB2[2] * in - sideA2[2] * bankRegion;
        return vocoded + amount * (frameLead * gain - bankRegion);
    }

} // namespace

ClarityStage::ClarityStage()
    : inputState {}
    , outputState {}
{
}

void ClarityStage::setAmount(double amount)
{
    double clamped = 0.0; // below 0, and not a number
    if (amount > 1.0)
        clamped = 1.0;
    else if (amount >= 0.0)
        clamped = amount;
    if (amountValue == 0.0 && clamped > 0.0) {
        inputState = InputState {};
        outputState = OutputState {};
    }
    amountValue = clamped;
    strength = 1.0 - (1.0 - clamped) * (1.0 - clamped);
}

double ClarityStage::process(double carrier, double modulator, double vocoded, double gain)
{
    const double frameLead = leadOf(advanceInputs(inputState, carrier, modulator));
    return finish(outputState, strength, vocoded, frameLead, gain);
}

namespace {

    // Frames per pass: the recurrences run frame by frame and leave their values here, then the
    // leads are made over the whole pass with no dependence between frames, so that they fill
    // vector lanes.
    constexpr std::size_t passFrames = 256;

    // leadBlock and finishBlock, one copy for each vector unit the machine may have; all give the
    // same bits. The state is worked on in a local copy so that it stays in registers.
#define LUMIVOX_CLARITY_PARTS(Suffix, Attributes)                                                  \
    Attributes void leads##Suffix(ClarityStage::InputState& state, const double* carrier,          \
        const double* modulator, double* leads, std::size_t frameCount)                            \
    {                                                                                              \
        ClarityStage::InputState local = state;                                                    \
        double product[4][passFrames], hiss[passFrames], carrierLevel[passFrames];                 \
        double hissEnergy[passFrames], voicedEnergy[passFrames];                                   \
        for (std::size_t first = 0; first < frameCount; first += passFrames) {                    \
            const std::size_t frames = std::min(passFrames, frameCount - first);                  \
            for (std::size_t t = 0; t < frames; ++t) {                                             \
                const InputValues v = advanceInputs(local, carrier[first + t], modulator[first + t]); \
                for (int k = 0; k < 4; ++k)                                                        \
                    product[k][t] = v.products[k];                                                 \
                hiss[t] = v.side[0];                                                               \
                carrierLevel[t] = v.side[3];                                                       \
                hissEnergy[t] = v.energies[0];                                                     \
                voicedEnergy[t] = v.energies[1];                                                   \
            }                                                                                      \
            double* passLeads = leads + first;                                                     \
            for (std::size_t t = 0; t < frames; ++t)                                               \
                passLeads[t] = lead(product[0][t], product[1][t], product[2][t],          \
                    product[3][t], hiss[t], carrierLevel[t], hissEnergy[t], voicedEnergy[t]);      \
        }                                                                                          \
        state = local;                                                                             \
    }                                                                                              \
    Attributes void finishes##Suffix(ClarityStage::OutputState& state, double amount,              \
        const double* leads, double* output, std::size_t frameCount, double gain)                  \
    {                                                                                              \
        ClarityStage::OutputState local = state;                                                   \
        for (std::size_t t = 0; t < frameCount; ++t)                                               \
            output[t] = finish(local, amount, output[t], leads[t], gain);                 \
        state = local;                                                                             \
    }

    LUMIVOX_CLARITY_PARTS(Portable, )
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_CLARITY_PARTS(Avx2, __attribute__((target("avx2"))))
    LUMIVOX_CLARITY_PARTS(Avx512, __attribute__((target("avx512f"))))
#endif
#undef LUMIVOX_CLARITY_PARTS

    struct Parts {
        void (*leads)(
            ClarityStage::InputState&, const double*, const double*, double*, std::size_t);
        void (*finishes)(
            ClarityStage::OutputState&, double, const double*, double*, std::size_t, double);
    };

    // The block path's unit, so that LUMIVOX_VECTOR_UNIT pins Clarity's too; chosen at the first
    // call rather than by the loader, so that sanitizer runtimes are up before the machine is
    // asked what it has.
    Parts partsOfThisMachine()
    {
#if defined(__x86_64__) || defined(__i386__)
        switch (preferredVectorUnit()) {
        case VectorUnit::Avx512:
            return { leadsAvx512, finishesAvx512 };
        case VectorUnit::Avx2:
            return { leadsAvx2, finishesAvx2 };
        case VectorUnit::Sse2:
        case VectorUnit::Portable:
            break;
        }
#endif
        return { leadsPortable, finishesPortable };
    }

    const Parts& parts()
    {
        static const Parts chosen = partsOfThisMachine();
        return chosen;
    }

} // namespace

void ClarityStage::leadBlock(
    const double* carrier, const double* modulator, double* leads, std::size_t frameCount)
{
    parts().leads(inputState, carrier, modulator, leads, frameCount);
}

void ClarityStage::finishBlock(
    const double* leads, double* output, std::size_t frameCount, double gain)
{
    parts().finishes(outputState, strength, leads, output, frameCount, gain);
}

void ClarityStage::processBlock(const double* carrier, const double* modulator, double* output,
    std::size_t frameCount, double gain)
{
    double leads[passFrames];
    for (std::size_t first = 0; first < frameCount; first += passFrames) {
        const std::size_t frames = std::min(passFrames, frameCount - first);
        leadBlock(carrier + first, modulator + first, leads, frames);
        finishBlock(leads, output + first, frames, gain);
    }
}

} // namespace lumivox::engine
