#include "block_path.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumivox::engine {

namespace {

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

bool runsOnThisMachine(VectorUnit unit)
{
    // Asked once: processBlock asks on its first call, which must not allocate.
    static const MachineUnits machine = machineUnits();
    const auto end = machine.units.begin() + machine.count;
    return std::find(machine.units.begin(), end, unit) != end;
}

VectorUnit widestVectorUnit()
{
    // Asked once: processBlock's default needs it without allocating.
    static const VectorUnit widest = [] {
        const MachineUnits machine = machineUnits();
        return machine.units[static_cast<std::size_t>(machine.count - 1)];
    }();
    return widest;
}

VectorChoice vectorChoiceFrom(const char* unitSetting, const char* blockPathSetting)
{
    const MachineUnits machine = machineUnits();
    VectorChoice choice;
    choice.unit = chooseVectorUnit(
        unitSetting, std::span(machine.units.begin(), static_cast<std::size_t>(machine.count)));
    choice.blockPath = blockPathSetting == nullptr || std::strcmp(blockPathSetting, "off") != 0;
    return choice;
}

} // namespace lumivox::engine
