#include "band_controls.h"

#include "window_memory.h"

#include <QSettings>
#include <cmath>

namespace lumivox::app {

namespace {
    using engine::LayoutKind;

    constexpr int kindCount = 3;

    int storedNumber(
        const QSettings& stored, const QString& key, int lowest, int highest, int fallback)
    {
        bool isNumber = false;
        const int value = stored.value(key).toInt(&isNumber);
        return isNumber && value >= lowest && value <= highest ? value : fallback;
    }
}

QStringList bandLayoutNames()
{
    return { QStringLiteral("Classic 32"), QStringLiteral("Speech"), QStringLiteral("Custom") };
}

bool usesBandCount(LayoutKind kind) { return kind == LayoutKind::Custom; }

QString bandLayoutHelp()
{
    return QStringLiteral(
        "The bands the voice and the carrier are split into. Classic 32: the original sound, 32 "
        "narrow bands from 18 Hz to 20 kHz. Speech: 20 wide bands from 100 Hz to 8 kHz, wider "
        "where a voice's harmonics lie, for clearer words and a smoother, less ringing sound. "
        "Custom: the count and range you set, evenly on a log scale; fewer bands blur the words, "
        "more ring longer and take more time.");
}

engine::LayoutChoice rememberedLayoutChoice()
{
    engine::LayoutChoice choice;
    const auto settings = openSettings();
    if (!settings)
        return choice;
    const QSettings& stored = *settings;
    choice.kind = static_cast<LayoutKind>(
        storedNumber(stored, QStringLiteral("bands/kind"), 0, kindCount - 1, 0));
    choice.count = storedNumber(stored, QStringLiteral("bands/count"),
        engine::BandLayout::fewestBands, engine::BandLayout::mostBands, engine::classicBandCount);
    const int low = storedNumber(stored, QStringLiteral("bands/lowHz"), lowestRangeBoxHz,
        highestRangeBoxHz, static_cast<int>(std::lround(engine::classicRange.lowHz)));
    const int high = storedNumber(stored, QStringLiteral("bands/highHz"), lowestRangeBoxHz,
        highestRangeBoxHz, static_cast<int>(engine::classicRange.highHz));
    if (stored.contains(QStringLiteral("bands/lowHz")) && low < high)
        choice.range = engine::BandRange { static_cast<double>(low), static_cast<double>(high) };
    return choice;
}

void rememberLayoutChoice(const engine::LayoutChoice& choice)
{
    const auto stored = openSettings();
    if (!stored)
        return;
    stored->setValue(QStringLiteral("bands/kind"), static_cast<int>(choice.kind));
    stored->setValue(QStringLiteral("bands/count"), choice.count);
    if (choice.range) {
        stored->setValue(
            QStringLiteral("bands/lowHz"), static_cast<int>(std::lround(choice.range->lowHz)));
        stored->setValue(
            QStringLiteral("bands/highHz"), static_cast<int>(std::lround(choice.range->highHz)));
    } else {
        stored->remove(QStringLiteral("bands/lowHz"));
        stored->remove(QStringLiteral("bands/highHz"));
    }
}

} // namespace lumivox::app
