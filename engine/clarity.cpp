#include "clarity.h"

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

    inline __attribute__((always_inline)) double step(ClarityStage::State& s, double amount,
        double carrier, double modulator, double vocoded, double gain)
    {
        FastLanes x = FastLanes {
            modulator, modulator, modulator, modulator, carrier, carrier, carrier, carrier
        } * fastGain;
        for (int k = 0; k < 2; ++k) {
            const FastLanes y = x + s.z1[k];
            s.z1[k] = s.z2[k] - fastA1[k] * y;
            s.z2[k] = -x - fastA2[k] * y;
            x = y;
        }
        const SideLanes in
            = SideLanes { modulator, modulator, vocoded, carrier >= 0.0 ? carrier : -carrier }
            * sideGain;
        const SideLanes side = in + s.side1;
        s.side1 = sideB1 * in + s.side2 - sideA1 * side;
        s.side2 = sideB2 * in - sideA2 * side;

        const SideLanes modulatorBands = { x[0], x[1], x[2], x[3] };
        const SideLanes carrierBands = { x[4], x[5], x[6], x[7] };
        const SideLanes rectified = modulatorBands < 0.0 ? -modulatorBands : modulatorBands;
        s.envelopes += envelopeRate * (rectified - s.envelopes);
        const SideLanes products = carrierBands * s.envelopes;
        const double fast
            = fastWeight * (((products[0] + products[1]) + products[2]) + products[3]);

        s.energies += energyRate * (side * side - s.energies);
        // Near 1 where the hiss band dominates (s, f, sh), near 0 in vowels; never 0 / 0.
        const double unvoiced = s.energies[0] / (s.energies[0] + s.energies[1] + 1e-30);
        const double passed = hissWeight * side[3] * unvoiced * side[0];

        return vocoded + amount * ((fast + passed) * gain - side[2]);
    }

} // namespace

ClarityStage::ClarityStage()
    : state {}
{
}

void ClarityStage::setAmount(double amount)
{
    double clamped = 0.0; // below 0, and not a number
    if (amount > 1.0)
        clamped = 1.0;
    else if (amount >= 0.0)
        clamped = amount;
    if (amountValue == 0.0 && clamped > 0.0)
        state = State {};
    amountValue = clamped;
    strength = 1.0 - (1.0 - clamped) * (1.0 - clamped);
}

double ClarityStage::process(double carrier, double modulator, double vocoded, double gain)
{
    return step(state, strength, carrier, modulator, vocoded, gain);
}

namespace {

    // process() over a run of frames, one copy for each vector unit the machine may have; all give
    // the same bits. The state is worked on in a local copy so that it stays in registers.
#define LUMIVOX_CLARITY_FRAMES(Name, Attributes)                                                   \
    Attributes void Name(ClarityStage::State& state, double amount, const double* carrier,         \
        const double* modulator, double* output, std::size_t frameCount, double gain)              \
    {                                                                                              \
        ClarityStage::State local = state;                                                         \
        for (std::size_t t = 0; t < frameCount; ++t)                                               \
            output[t] = step(local, amount, carrier[t], modulator[t], output[t], gain);            \
        state = local;                                                                             \
    }

    LUMIVOX_CLARITY_FRAMES(framesPortable, )
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_CLARITY_FRAMES(framesAvx2, __attribute__((target("avx2"))))
    LUMIVOX_CLARITY_FRAMES(framesAvx512, __attribute__((target("avx512f"))))
#endif
#undef LUMIVOX_CLARITY_FRAMES

    using Frames = void (*)(
        ClarityStage::State&, double, const double*, const double*, double*, std::size_t, double);

    // Chosen at the first call rather than by the loader, so that sanitizer runtimes are up
    // before the machine is asked what it has.
    Frames framesOfThisMachine()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f"))
            return framesAvx512;
        if (__builtin_cpu_supports("avx2"))
            return framesAvx2;
#endif
        return framesPortable;
    }

} // namespace

void ClarityStage::processBlock(const double* carrier, const double* modulator, double* output,
    std::size_t frameCount, double gain)
{
    static const Frames frames = framesOfThisMachine();
    frames(state, strength, carrier, modulator, output, frameCount, gain);
}

} // namespace lumivox::engine
