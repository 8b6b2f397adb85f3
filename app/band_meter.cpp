#include "band_meter.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

namespace lumivox::app {

namespace {
    const QColor background(0x1e, 0x22, 0x26);
    const QColor unlit(0x33, 0x3a, 0x40);
    const QColor green(0x3c, 0xc8, 0x50);
    const QColor yellow(0xe6, 0xc8, 0x32);
    const QColor red(0xe6, 0x46, 0x3c);
    const QColor peakMark(0xf0, 0xf0, 0xf0);

    // Loud bands turn yellow from 12 dB below full scale and red from 6 dB below.
    QColor colourAt(double db)
    {
        if (db >= -6.0)
            return red;
        if (db >= -12.0)
            return yellow;
        return green;
    }

    double heightFraction(double db)
    {
        return (db - BandMeterModel::floorDb)
            / (BandMeterModel::ceilingDb - BandMeterModel::floorDb);
    }

    QString frequencyText(double hertz)
    {
        if (hertz >= 1000.0)
            return QStringLiteral("%1 kHz").arg(hertz / 1000.0, 0, 'g', 3);
        return QStringLiteral("%1 Hz").arg(hertz, 0, 'g', 3);
    }
}

BandMeter::BandMeter(QWidget* parent)
    : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Band levels"));
    setToolTip(QStringLiteral("The level of each band that shapes the carrier, lowest band left."));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BandMeter::setSampleRate(double hertz)
{
    if (hertz > 0.0 && hertz != sampleRate) {
        sampleRate = hertz;
        update();
    }
}

void BandMeter::showLayout(const engine::LayoutChoice& choice, double hertz)
{
    if (!(hertz > 0.0) || (choice == shownChoice && hertz == sampleRate))
        return;
    // A choice the rate cannot hold never runs; the classic bars stand in for it.
    const bool classic = choice.kind == engine::LayoutKind::Classic;
    auto designed = classic ? std::nullopt : engine::designBands(choice, hertz);
    const bool changed = choice != shownChoice;
    bands = designed ? std::move(designed->bands) : engine::BandLayout::classic();
    shownChoice = choice;
    sampleRate = hertz;
    if (changed || levels.barCount() != bands.bandCount())
        levels.setBarCount(bands.bandCount());
    update();
}

void BandMeter::refreshBars() { update(barArea()); }

QRect BandMeter::barArea() const
{
    const int labelHeight = fontMetrics().height() + 2;
    const int margin = 3;
    return rect().adjusted(margin, margin, -margin, -margin - labelHeight);
}

QRect BandMeter::barRect(int band) const
{
    const QRect area = barArea();
    const double pitch = area.width() / static_cast<double>(levels.barCount());
    const int left = area.left() + static_cast<int>(std::lround(band * pitch));
    const int right = area.left() + static_cast<int>(std::lround((band + 1) * pitch));
    const int gap = std::max(1, (right - left) / 5);
    return QRect(left, area.top(), std::max(1, right - left - gap), area.height());
}

void BandMeter::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), background);

    for (int band = 0; band < levels.barCount(); ++band) {
        const QRect bar = barRect(band);
        painter.fillRect(bar, unlit);
        const double db = levels.barDb(band);
        if (db > BandMeterModel::floorDb) {
            const int lit = static_cast<int>(std::lround(bar.height() * heightFraction(db)));
            painter.fillRect(
                QRect(bar.left(), bar.bottom() + 1 - lit, bar.width(), lit), colourAt(db));
        }
        const double peak = levels.peakDb(band);
        if (peak > BandMeterModel::floorDb) {
            const int y = bar.bottom()
                - static_cast<int>(std::lround((bar.height() - 1) * heightFraction(peak)));
            painter.fillRect(QRect(bar.left(), y, bar.width(), 2), peakMark);
        }
    }

    // Labels under the bars, centred where their frequency lies between two band centres; shaping
    // their text is most of a repaint's cost, so the bars' own repaints leave them alone.
    if (barArea().contains(event->rect()))
        return;
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text).lighter(180));
    const QRect area = barArea();
    const double pitch = area.width() / static_cast<double>(levels.barCount());
    const int baseline = area.bottom() + 2 + fontMetrics().ascent();
    for (const FrequencyMark& mark : frequencyMarks(bands, sampleRate)) {
        const QString text = frequencyText(mark.hertz);
        const int width = fontMetrics().horizontalAdvance(text);
        const int centre
            = area.left() + static_cast<int>(std::lround((mark.bandPosition + 0.5) * pitch));
        const int left = std::clamp(centre - width / 2, area.left(), area.right() + 1 - width);
        painter.drawText(left, baseline, text);
    }
}

} // namespace lumivox::app
