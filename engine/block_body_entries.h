#pragma once

// The block path's entry points for one vector unit, made by LUMIVOX_BLOCK_BODY in a source file of
// that unit's own (block_body_*.cpp), so that the units' bodies, the longest files of the build to
// compile, are compiled side by side. Include it in one such file only.

#include "block_body.h"

// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "kernel_band_split.h"

// The entry points of one instruction set. Each inlines the kernel under its unit's target
// attribute, so the one source gives every unit its own machine code.
#define LUMIVOX_BLOCK_BODY(Unit, Attributes, Width)                                                \
    Attributes void analyse##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,        \
        const double* modulator, int frameCount)                                                   \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::analyse<Width>(lanes, fixed, carrier, modulator, frameCount)));         \
    }                                                                                              \
    Attributes void finish##Unit(                                                                  \
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)        \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::finish<Width>(fixed, settings, first, end, output)));                   \
    }                                                                                              \
    Attributes void analyseAndFinish##Unit(BandLanes& lanes, FrameRows& rows,                      \
        const double* carrier, const double* modulator, int frameCount, double outputGain,         \
        double* output)                                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::analyseAndFinish<Width>(                                                      \
                lanes, fixed, carrier, modulator, frameCount, outputGain, output)));               \
    }                                                                                              \
    Attributes void modulatorSide##Unit(BandLanes& lanes, FrameRows& rows,                         \
        const BlockSettings& settings, const double* modulator, int frameCount, double* handOver)  \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::modulatorSide<Width>(                                                         \
                lanes, fixed, settings, modulator, frameCount, handOver)));                        \
    }                                                                                              \
    Attributes void carrierSide##Unit(BandLanes& lanes, FrameRows& rows,                           \
        const BlockSettings& settings, const double* carrier, const double* handOver,              \
        int frameCount, double* output)                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::carrierSide<Width>(                                                           \
                lanes, fixed, settings, carrier, handOver, frameCount, output)));                  \
    }                                                                                              \
    Attributes void lowerBands##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,     \
        const double* modulator, int frameCount, double* sums)                                     \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::lowerBands<Width>(lanes, fixed, carrier, modulator, frameCount, sums)));      \
    }                                                                                              \
    Attributes void upperBands##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,     \
        const double* modulator, int frameCount, const double* lowerSums, double outputGain,       \
        double* output)                                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperBands<Width>(                                                            \
                lanes, fixed, carrier, modulator, frameCount, lowerSums, outputGain, output)));    \
    }                                                                                              \
    Attributes void levelCarrierBands##Unit(                                                       \
        FrameRows& rows, CarrierLevelling& levelling, int frameCount)                              \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::levelCarrierRows<Width>(                                                 \
                      fixed, levelling, fixed.template liveLanes<Width>(), frameCount)));           \
    }                                                                                              \
    Attributes void lowerLevels##Unit(BandLanes& lanes, FrameRows& rows,                           \
        const BlockSettings& settings, const double* carrier, const double* modulator,             \
        int frameCount, double* share, double* edge)                                               \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::lowerLevels<Width>(                                                           \
                lanes, fixed, settings, carrier, modulator, frameCount, share, edge)));            \
    }                                                                                              \
    Attributes void lowerOutput##Unit(FrameRows& rows, const BlockSettings& settings,              \
        int frameCount, const double* sums, const double* upperEdge, double* lowerOutput)          \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::lowerOutput<Width>(fixed, settings, frameCount, sums, upperEdge,              \
                lowerOutput)));                                                                    \
    }                                                                                              \
    Attributes void upperLevels##Unit(BandLanes& lanes, FrameRows& rows,                           \
        const BlockSettings& settings, const double* carrier, const double* modulator,             \
        int frameCount, double* edge)                                                              \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperLevels<Width>(                                                           \
                lanes, fixed, settings, carrier, modulator, frameCount, edge)));                   \
    }                                                                                              \
    Attributes void upperShare##Unit(FrameRows& rows, const BlockSettings& settings,               \
        int frameCount, const double* lowerShare, double* sums, double* edge)                      \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperShare<Width>(fixed, settings, frameCount, lowerShare, sums, edge)));     \
    }                                                                                              \
    Attributes void upperProducts##Unit(FrameRows& rows, const BlockSettings& settings,            \
        int frameCount, const double* sums, const double* lowerEdge)                               \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperProducts<Width>(fixed, settings, frameCount, sums, lowerEdge)));         \
    }                                                                                              \
    Attributes void upperOutput##Unit(FrameRows& rows, const BlockSettings& settings,              \
        int frameCount, const double* lowerOutput, double* output)                                 \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperOutput<Width>(fixed, settings, frameCount, lowerOutput, output)));       \
    }                                                                                              \
    BlockBody body##Unit()                                                                         \
    {                                                                                              \
        return { analyse##Unit, finish##Unit, analyseAndFinish##Unit, Width, modulatorSide##Unit,  \
            carrierSide##Unit, lowerBands##Unit, upperBands##Unit, levelCarrierBands##Unit,        \
            lowerLevels##Unit, lowerOutput##Unit, upperLevels##Unit, upperShare##Unit,             \
            upperProducts##Unit, upperOutput##Unit };                                              \
    }
