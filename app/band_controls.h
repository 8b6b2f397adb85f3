#pragma once

#include "engine/layout_choice.h"

#include <QString>
#include <QStringList>

namespace lumivox::app {

// What the Bands drop-down offers, in its order: the drop-down's index is the layout kind.
QStringList bandLayoutNames(); // "Classic 32", "Speech", "Custom"

// The custom layout's count and range boxes are used by Custom alone.
bool usesBandCount(engine::LayoutKind kind);

// What the drop-down's tooltip says: what each choice does to the sound.
QString bandLayoutHelp();

// The band choice kept across runs of the program, in the same settings as the carrier's choice;
// anything missing or out of range there reads as its default (the classic bands). The custom
// count and range are kept even while another layout is chosen.
engine::LayoutChoice rememberedLayoutChoice();
void rememberLayoutChoice(const engine::LayoutChoice& choice);

// The custom range's boxes, in Hz: from the lowest a band may reach to the most any rate holds.
inline constexpr int lowestRangeBoxHz = 10;
inline constexpr int highestRangeBoxHz = 96000;

} // namespace lumivox::app
