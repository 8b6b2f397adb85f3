#include "carrier_controls.h"

#include "window_memory.h"

#include <QSettings>

namespace lumivox::app {

namespace {
    using job::CarrierKind;

    constexpr int kindCount = 4;
    constexpr int chordTypeCount = 4;

    // A whole number from the settings, or the fallback when it is missing, not a number or
    // outside lowest..highest.
    int storedNumber(
        const QSettings& stored, const QString& key, int lowest, int highest, int fallback)
    {
        bool isNumber = false;
        const int value = stored.value(key).toInt(&isNumber);
        return isNumber && value >= lowest && value <= highest ? value : fallback;
    }
}

QStringList carrierKindNames()
{
    return { QStringLiteral("File"), QStringLiteral("Chord"), QStringLiteral("Noise"),
        QStringLiteral("Follow the voice") };
}

QStringList chordTypeNames()
{
    return { QStringLiteral("Major"), QStringLiteral("Minor"), QStringLiteral("Fifth"),
        QStringLiteral("Octave") };
}

CarrierControlUse controlsUsedBy(CarrierKind kind)
{
    return { kind == CarrierKind::File, kind == CarrierKind::Chord,
        kind == CarrierKind::FollowVoice };
}

job::CarrierChoice rememberedCarrierChoice()
{
    const job::CarrierChoice defaults;
    const auto settings = openSettings();
    if (!settings)
        return defaults;
    const QSettings& stored = *settings;
    job::CarrierChoice choice;
    choice.kind = static_cast<CarrierKind>(storedNumber(
        stored, QStringLiteral("carrier/kind"), 0, kindCount - 1, static_cast<int>(defaults.kind)));
    choice.chordRoot = storedNumber(stored, QStringLiteral("carrier/chordRoot"),
        engine::lowestChordRoot, engine::highestChordRoot, defaults.chordRoot);
    choice.chordType
        = static_cast<engine::ChordType>(storedNumber(stored, QStringLiteral("carrier/chordType"),
            0, chordTypeCount - 1, static_cast<int>(defaults.chordType)));
    choice.followSemitones = storedNumber(stored, QStringLiteral("carrier/followSemitones"),
        job::lowestFollowInterval, job::highestFollowInterval, defaults.followSemitones);
    return choice;
}

void rememberCarrierChoice(const job::CarrierChoice& choice)
{
    const auto stored = openSettings();
    if (!stored)
        return;
    stored->setValue(QStringLiteral("carrier/kind"), static_cast<int>(choice.kind));
    stored->setValue(QStringLiteral("carrier/chordRoot"), choice.chordRoot);
    stored->setValue(QStringLiteral("carrier/chordType"), static_cast<int>(choice.chordType));
    stored->setValue(QStringLiteral("carrier/followSemitones"), choice.followSemitones);
}

} // namespace lumivox::app
