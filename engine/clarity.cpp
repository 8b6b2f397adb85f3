#include "clarity.h"

#include "band_layout.h"
#include "block_path.h"
#include "engine_constants.h"
#include "unit_range.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace lumivox::engine {

namespace {

    using Lanes = ClarityStage::Lanes;

    // The classic layout's filters, all Butterworth designs for its design rate, 44100 Hz, moving
    // with the rate as its bands do.

    // The fast bands, 100-150, 150-225, 225-340 and 340-500 Hz, each of 4th order in two
    // sections with the numerator 1 - z^-2: the input gain and each section's a1 and a2, the same
    // for the modulator's bands and the carrier's.
    // The side filters: a 2nd-order high-pass at 2 kHz on the modulator (the hiss band), a
    // 2nd-order low-pass at 800 Hz on the modulator (the voiced band), a 1st-order low-pass at
    // 300 Hz on the engine's output (what is taken away of the bank's lowest region; taking away
    // a 1st-order low-pass leaves a 1st-order high-pass, which raises no frequency) and a one-pole
    // follower of the rectified carrier over about 20 ms (its level).
    // One-pole rates 1 - exp(-1 / (seconds * 44100)): 4 ms for the fast bands' followers, 5 ms
    // for the side filters' energies.
    constexpr ClarityStage::Coefficients classicCoefficients {
        { 1.2623465123852676e-05, 2.833164962007593e-05, 6.6344671993554512e-05,
            0.00012784967235737372 },
        {
            { -1.9954716370444148, -1.993044429714633, -1.9890156799792214, -1.9835860220023549 },
            { -1.9938464485795091, -1.9904790418759213, -1.9847263582869714, -1.9773336050229096 },
        },
        {
            { 0.99569883650362279, 0.99355506819187311, 0.99016483651504172, 0.98618575665633668 },
            { 0.99425245631671322, 0.99139121298468802, 0.98680024101088981, 0.981838879235435 },
        },
        { 0.81736534719886655, 0.0030028859801922276, 0.02092731911843116, 0.0011331443546038766 },
        { -2.0, 2.0, 1.0, 0.0 },
        { 1.0, 1.0, 0.0, 0.0 },
        { -1.6010923941836188, -1.8391167973252027, -0.95814536176313769, -0.9988668556453961 },
        { 0.66836899461184729, 0.8511283412459717, 0.0, 0.0 },
        0.005652896153250597,
        0.004524879139899296,
        2.0,
    };

    // The same fast bands for eight lanes: the modulator's four bands, then the carrier's.
    using WideLanes = double __attribute__((vector_size(8 * sizeof(double))));
    struct WideCoefficients {
        WideLanes gain, a1[2], a2[2];
    };
    // A wide band's level is larger than a bank band's; half the bank's level scale keeps the
    // region about as loud as the bank made it.
    constexpr double fastWeight = 0.5 * levelScale;

    // Each lane's absolute value: its sign bit cleared, one AND instead of a compare and a blend.
    inline __attribute__((always_inline)) void takeMagnitudes(Lanes& lanes)
    {
        typedef std::uint64_t Bits __attribute__((vector_size(sizeof(Lanes))));
        constexpr Bits allButSign = ~(Bits {} + (std::uint64_t { 1 } << 63));
        lanes = reinterpret_cast<Lanes>(reinterpret_cast<Bits>(lanes) & allButSign);
    }

    // One sample through the four fast bands. Each section's two states are held negated
    // (w = -z): x + z1 is x - w1, and the new states come out without the negations the
    // numerator 1 - z^-2 would take, exactly.
    inline __attribute__((always_inline)) void fastBands(const ClarityStage::Coefficients& c,
        ClarityStage::FastBands& bands, double sample, Lanes& out)
    {
        Lanes x = sample * c.fastGain;
        for (int k = 0; k < 2; ++k) {
            const Lanes y = x - bands.w1[k];
            bands.w1[k] = bands.w2[k] + c.fastA1[k] * y;
            bands.w2[k] = x + c.fastA2[k] * y;
            x = y;
        }
        out = x;
    }

    // One sample through the side filters, lane by lane.
    inline __attribute__((always_inline)) void sideFilters(const ClarityStage::Coefficients& c,
        ClarityStage::SideFilters& filters, const Lanes& samples, Lanes& side)
    {
        const Lanes in = samples * c.sideGain;
        side = in + filters.side1;
        filters.side1 = c.sideB1 * in + filters.side2 - c.sideA1 * side;
        filters.side2 = c.sideB2 * in - c.sideA2 * side;
    }

    // What the first part leaves for one frame: the modulator's fast bands' levels and the hiss it
    // passes at the carrier's level.
    struct FirstValues {
        Lanes envelopes;
        double passed;
    };

    // The first part of a frame: the modulator's fast bands and their followers, the hiss and
    // voiced bands and their energies, and the carrier's level (the side filters' lanes 0, 1 and
    // 3; filters joins the modulator's and the carrier's states).
    inline __attribute__((always_inline)) FirstValues firstFrame(
        const ClarityStage::Coefficients& c, ClarityStage::ModulatorState& s,
        ClarityStage::SideFilters& filters, double carrier, double modulator)
    {
        Lanes rectified;
        fastBands(c, s.bands, modulator, rectified);
        takeMagnitudes(rectified);
        s.envelopes += c.envelopeRate * (rectified - s.envelopes);
        Lanes side;
        sideFilters(c, filters, Lanes { modulator, modulator, 0.0, std::fabs(carrier) }, side);
        s.energies += c.energyRate * (side * side - s.energies);
        // Near 1 where the hiss band dominates (s, f, sh), near 0 in vowels; never 0 / 0.
        const double unvoiced = s.energies[0] / (s.energies[0] + s.energies[1] + 1e-30);
        return { s.envelopes, c.hissWeight * side[3] * unvoiced * side[0] };
    }

    // The bank's lowest region (the side filters' third lane, alone) and the frame's result from
    // what the stage adds before the output gain (its lead).
    inline __attribute__((always_inline)) double finish(const ClarityStage::Coefficients& c,
        ClarityStage::SideFilters& filters, double amount, double vocoded, double lead, double gain)
    {
        const double in = vocoded * c.sideGain[2];
        const double region = in + filters.side1[2];
        filters.side1[2] = c.sideB1[2] * in + filters.side2[2] - c.sideA1[2] * region;
        filters.side2[2] = c.sideB2[2] * in - c.sideA2[2] * region;
        return vocoded + amount * (lead * gain - region);
    }

    // The second part of a frame, with the engine's output for it (vocoded): the carrier's fast
    // bands weighted by the modulator's, with the passed hiss, and the bank's lowest region taken
    // away.
    inline __attribute__((always_inline)) double secondFrame(const ClarityStage::Coefficients& c,
        ClarityStage::FastBands& bands, ClarityStage::SideFilters& output, double amount,
        double carrier, double vocoded, const FirstValues& first, double gain)
    {
        Lanes carrierBands;
        fastBands(c, bands, carrier, carrierBands);
        const Lanes products = carrierBands * first.envelopes;
        const double fast
            = fastWeight * (((products[0] + products[1]) + products[2]) + products[3]);
        return finish(c, output, amount, vocoded, fast + first.passed, gain);
    }

    // Both fast band sets side by side in eight lanes, for a unit with registers that wide: the
    // same arithmetic, lane for lane, as fastBands on each.
    inline __attribute__((always_inline)) void wideFastBands(const WideCoefficients& c,
        WideLanes* w1, WideLanes* w2, double modulator, double carrier, WideLanes& out)
    {
        WideLanes x = WideLanes {
            modulator, modulator, modulator, modulator, carrier, carrier, carrier, carrier
        } * c.gain;
        for (int k = 0; k < 2; ++k) {
            const WideLanes y = x - w1[k];
            w1[k] = w2[k] + c.a1[k] * y;
            w2[k] = x + c.a2[k] * y;
            x = y;
        }
        out = x;
    }

    // The recurrences of a frame but the bank's lowest region, when one thread runs both fast band
    // sets in eight lanes: the carrier's bands weighted by the modulator's, the side filters and
    // their energies, for wideLead.
    struct WideValues {
        Lanes products, side, energies;
    };
    inline __attribute__((always_inline)) WideValues wideFrame(const ClarityStage::Coefficients& c,
        const WideCoefficients& wide, WideLanes* w1, WideLanes* w2,
        ClarityStage::SideFilters& filters, Lanes& envelopes, Lanes& energies, double carrier,
        double modulator)
    {
        WideLanes x;
        wideFastBands(wide, w1, w2, modulator, carrier, x);
        Lanes rectified = { x[0], x[1], x[2], x[3] };
        takeMagnitudes(rectified);
        envelopes += c.envelopeRate * (rectified - envelopes);
        Lanes side;
        sideFilters(c, filters, Lanes { modulator, modulator, 0.0, std::fabs(carrier) }, side);
        energies += c.energyRate * (side * side - energies);
        return { Lanes { x[4], x[5], x[6], x[7] } * envelopes, side, energies };
    }

    // What the stage adds before the output gain (its lead) from what wideFrame left, as
    // carrierFrame works it out; no state, so that a run of frames fills vector lanes.
    inline __attribute__((always_inline)) double wideLead(double hissWeight, double product0,
        double product1, double product2, double product3, double hiss, double carrierLevel,
        double hissEnergy, double voicedEnergy)
    {
        const double unvoiced = hissEnergy / (hissEnergy + voicedEnergy + 1e-30);
        const double fast = fastWeight * (((product0 + product1) + product2) + product3);
        const double passed = hissWeight * carrierLevel * unvoiced * hiss;
        return fast + passed;
    }

    // Lanes 0 to 2 of a's filters, lane 3 of b's.
    inline __attribute__((always_inline)) ClarityStage::SideFilters withLastLaneOf(
        const ClarityStage::SideFilters& a, const ClarityStage::SideFilters& b)
    {
        return { __builtin_shufflevector(a.side1, b.side1, 0, 1, 2, 7),
            __builtin_shufflevector(a.side2, b.side2, 0, 1, 2, 7) };
    }

} // namespace

ClarityStage::ClarityStage()
    : coefficientValues(classicCoefficients)
    , states {}
{
}

ClarityStage::ClarityStage(const BandLayout& layout)
    : designValue(clarityDesignFor(layout))
    , coefficientValues(layout.isClassic() ? classicCoefficients : designCoefficients(designValue))
    , states {}
{
}

void ClarityStage::setAmount(double amount)
{
    const double clamped = clampToUnit(amount);
    if (amountValue == 0.0 && clamped > 0.0)
        states = States {};
    amountValue = clamped;
    strength = 1.0 - (1.0 - clamped) * (1.0 - clamped);
}

double ClarityStage::process(double carrier, double modulator, double vocoded, double gain)
{
    SideFilters filters = withLastLaneOf(states.modulator.side, states.carrier.level);
    const FirstValues first
        = firstFrame(coefficientValues, states.modulator, filters, carrier, modulator);
    states.modulator.side = filters;
    states.carrier.level = filters;
    return secondFrame(coefficientValues, states.carrier.bands, states.output, strength, carrier,
        vocoded, first, gain);
}

namespace {

    // Each frame's hand-over: the four envelopes, the passed hiss, three unused; or, when the first
    // part runs both fast band sets, the leads alone, one a frame from the start.
    static_assert(ClarityStage::handOverValues == 8);

    // The two parts, one copy for each vector unit the machine may have; all give the same bits.
    // Each part works on local copies of the states it owns, so that they stay in registers, and
    // touches no other: the first owns the modulator's state and the carrier's level (and the
    // carrier's fast bands when it runs both sets), the second the rest.
#define LUMIVOX_CLARITY_PARTS(Suffix, Attributes)                                                  \
    Attributes void firstPart##Suffix(const ClarityStage::Coefficients& coefficients,              \
        ClarityStage::States& states, const double* carrier, const double* modulator,              \
        double* values, std::size_t frameCount)                                                    \
    {                                                                                              \
        const ClarityStage::Coefficients c = coefficients;                                         \
        ClarityStage::ModulatorState local = states.modulator;                                     \
        ClarityStage::SideFilters filters = withLastLaneOf(local.side, states.carrier.level);      \
        for (std::size_t t = 0; t < frameCount; ++t) {                                             \
            const FirstValues v = firstFrame(c, local, filters, carrier[t], modulator[t]);         \
            const Lanes rest = { v.passed, 0.0, 0.0, 0.0 };                                        \
            double* frame = values + t * ClarityStage::handOverValues;                             \
            std::memcpy(frame, &v.envelopes, sizeof(Lanes));                                       \
            std::memcpy(frame + 4, &rest, sizeof(Lanes));                                          \
        }                                                                                          \
        local.side = filters;                                                                      \
        states.modulator = local;                                                                  \
        states.carrier.level = filters;                                                            \
    }                                                                                              \
    Attributes void secondPart##Suffix(const ClarityStage::Coefficients& coefficients,             \
        ClarityStage::States& states, double amount, const double* carrier, const double* values,  \
        double* output, std::size_t frameCount, double gain)                                       \
    {                                                                                              \
        const ClarityStage::Coefficients c = coefficients;                                         \
        ClarityStage::FastBands bands = states.carrier.bands;                                      \
        ClarityStage::SideFilters filters = states.output;                                         \
        for (std::size_t t = 0; t < frameCount; ++t) {                                             \
            const double* frame = values + t * ClarityStage::handOverValues;                       \
            FirstValues v;                                                                         \
            std::memcpy(&v.envelopes, frame, sizeof(Lanes));                                       \
            v.passed = frame[4];                                                                   \
            output[t] = secondFrame(c, bands, filters, amount, carrier[t], output[t], v, gain);    \
        }                                                                                          \
        states.carrier.bands = bands;                                                              \
        states.output = filters;                                                                   \
    }

    LUMIVOX_CLARITY_PARTS(Portable, )
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_CLARITY_PARTS(Avx2, __attribute__((target("avx2"))))
#endif
#undef LUMIVOX_CLARITY_PARTS

#if defined(__x86_64__) || defined(__i386__)
    // The fast bands' coefficients twice over, for both sets side by side.
    __attribute__((target("avx512f"))) inline WideLanes twice(const Lanes& lanes)
    {
        return __builtin_shufflevector(lanes, lanes, 0, 1, 2, 3, 0, 1, 2, 3);
    }
    __attribute__((target("avx512f"))) inline WideCoefficients widened(
        const ClarityStage::Coefficients& c)
    {
        return { twice(c.fastGain), { twice(c.fastA1[0]), twice(c.fastA1[1]) },
            { twice(c.fastA2[0]), twice(c.fastA2[1]) } };
    }

    // With eight lanes a register, the first part runs both fast band sets at once and hands over
    // only the lead; the second part has the bank's lowest region left.
    __attribute__((target("avx512f"))) void firstPartWide(
        const ClarityStage::Coefficients& coefficients, ClarityStage::States& states,
        const double* carrier, const double* modulator, double* values, std::size_t frameCount)
    {
        const ClarityStage::Coefficients c = coefficients;
        const WideCoefficients wide = widened(c);
        WideLanes w1[2], w2[2];
        for (int k = 0; k < 2; ++k) {
            w1[k] = __builtin_shufflevector(
                states.modulator.bands.w1[k], states.carrier.bands.w1[k], 0, 1, 2, 3, 4, 5, 6, 7);
            w2[k] = __builtin_shufflevector(
                states.modulator.bands.w2[k], states.carrier.bands.w2[k], 0, 1, 2, 3, 4, 5, 6, 7);
        }
        ClarityStage::SideFilters filters
            = withLastLaneOf(states.modulator.side, states.carrier.level);
        Lanes envelopes = states.modulator.envelopes;
        Lanes energies = states.modulator.energies;
        // Frame by frame through the recurrences, then the leads of a whole pass side by side.
        constexpr std::size_t pass = 256;
        double product[4][pass], hiss[pass], level[pass], hissEnergy[pass], voicedEnergy[pass];
        for (std::size_t first = 0; first < frameCount; first += pass) {
            const std::size_t frames = std::min(pass, frameCount - first);
            for (std::size_t t = 0; t < frames; ++t) {
                const WideValues v = wideFrame(c, wide, w1, w2, filters, envelopes, energies,
                    carrier[first + t], modulator[first + t]);
                for (int k = 0; k < 4; ++k)
                    product[k][t] = v.products[k];
                hiss[t] = v.side[0];
                level[t] = v.side[3];
                hissEnergy[t] = v.energies[0];
                voicedEnergy[t] = v.energies[1];
            }
            for (std::size_t t = 0; t < frames; ++t)
                values[first + t]
                    = wideLead(c.hissWeight, product[0][t], product[1][t], product[2][t],
                        product[3][t], hiss[t], level[t], hissEnergy[t], voicedEnergy[t]);
        }
        for (int k = 0; k < 2; ++k) {
            states.modulator.bands.w1[k] = __builtin_shufflevector(w1[k], w1[k], 0, 1, 2, 3);
            states.modulator.bands.w2[k] = __builtin_shufflevector(w2[k], w2[k], 0, 1, 2, 3);
            states.carrier.bands.w1[k] = __builtin_shufflevector(w1[k], w1[k], 4, 5, 6, 7);
            states.carrier.bands.w2[k] = __builtin_shufflevector(w2[k], w2[k], 4, 5, 6, 7);
        }
        states.modulator.side = filters;
        states.carrier.level = filters;
        states.modulator.envelopes = envelopes;
        states.modulator.energies = energies;
    }

    __attribute__((target("avx512f"))) void secondPartWide(
        const ClarityStage::Coefficients& coefficients, ClarityStage::States& states, double amount,
        const double*, const double* values, double* output, std::size_t frameCount, double gain)
    {
        const ClarityStage::Coefficients c = coefficients;
        ClarityStage::SideFilters filters = states.output;
        for (std::size_t t = 0; t < frameCount; ++t)
            output[t] = finish(c, filters, amount, output[t], values[t], gain);
        states.output = filters;
    }
#endif

    struct Parts {
        void (*first)(const ClarityStage::Coefficients&, ClarityStage::States&, const double*,
            const double*, double*, std::size_t);
        void (*second)(const ClarityStage::Coefficients&, ClarityStage::States&, double,
            const double*, const double*, double*, std::size_t, double);
    };

    // The engine's unit, so that a program's choice pins Clarity's too; chosen at each call
    // rather than by the loader, so that sanitizer runtimes are up before the machine is asked
    // what it has.
    Parts partsFor(VectorUnit unit)
    {
#if defined(__x86_64__) || defined(__i386__)
        switch (runsOnThisMachine(unit) ? unit : VectorUnit::Portable) {
        case VectorUnit::Avx512:
            return { firstPartWide, secondPartWide };
        case VectorUnit::Avx2:
            return { firstPartAvx2, secondPartAvx2 };
        case VectorUnit::Sse2:
        case VectorUnit::Portable:
            break;
        }
#endif
        return { firstPartPortable, secondPartPortable };
    }

    // Frames per pass when one thread runs both parts.
    constexpr std::size_t passFrames = 256;

} // namespace

void ClarityStage::firstPart(VectorUnit unit, const double* carrier, const double* modulator,
    double* values, std::size_t frameCount)
{
    partsFor(unit).first(coefficientValues, states, carrier, modulator, values, frameCount);
}

void ClarityStage::secondPart(VectorUnit unit, const double* carrier, const double* values,
    double* output, std::size_t frameCount, double gain)
{
    partsFor(unit).second(
        coefficientValues, states, strength, carrier, values, output, frameCount, gain);
}

void ClarityStage::processBlock(VectorUnit unit, const double* carrier, const double* modulator,
    double* output, std::size_t frameCount, double gain)
{
    const Parts parts = partsFor(unit);
    double values[handOverValues * passFrames];
    for (std::size_t first = 0; first < frameCount; first += passFrames) {
        const std::size_t frames = std::min(passFrames, frameCount - first);
        parts.first(coefficientValues, states, carrier + first, modulator + first, values, frames);
        parts.second(coefficientValues, states, strength, carrier + first, values, output + first,
            frames, gain);
    }
}

} // namespace lumivox::engine
