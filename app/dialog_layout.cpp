#include "dialog_layout.h"

#include "control_ids.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace lumivox::app {

namespace {
    // The gap kept between a widened label and the control to its right, in dialog units.
    constexpr int labelGapUnits = 2;
    // The band meters' least height and the margin around them, in dialog units.
    constexpr int meterPanelHeightUnits = 64;
    constexpr int meterMarginUnits = 6;

    int scaled(int value, int numerator, int denominator)
    {
        return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
    }

    bool sameRow(const QRect& a, const QRect& b)
    {
        return a.top() <= b.bottom() && b.top() <= a.bottom();
    }
}

DialogUnits dialogUnitsOf(const QFontMetrics& metrics)
{
    // The average over the Latin letters, rounded the way dialog managers have always done it.
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return { std::max(1, (alphabetWidth / 26 + 1) / 2), std::max(1, metrics.height()) };
}

QRect toPixels(DialogUnits units, int x, int y, int width, int height)
{
    return { scaled(x, units.averageCharWidth, 4), scaled(y, units.charHeight, 8),
        scaled(width, units.averageCharWidth, 4), scaled(height, units.charHeight, 8) };
}

DialogLayout layOutDialog(const QFontMetrics& metrics)
{
    const DialogUnits units = dialogUnitsOf(metrics);
    const int columnEnd = scaled(labelColumnEndUnits, units.averageCharWidth, 4);
    const int gap = scaled(labelGapUnits, units.averageCharWidth, 4);

    DialogLayout layout;
    for (const ControlTemplate& control : dialogTemplate()) {
        QRect rect = toPixels(units, control.x, control.y, control.width, control.height);
        if (control.role == ControlRole::Label) {
            const int textWidth = metrics.horizontalAdvance(QString::fromUtf8(control.text)) + 1;
            rect.setWidth(std::max(rect.width(), textWidth));
        }
        layout.controls.push_back({ control, rect });
    }

    int shift = 0;
    for (const PlacedControl& label : layout.controls) {
        if (label.control.role != ControlRole::Label || label.control.x >= labelColumnEndUnits)
            continue;
        for (const PlacedControl& other : layout.controls) {
            if (other.control.x >= labelColumnEndUnits && sameRow(label.rect, other.rect))
                shift = std::max(
                    shift, label.rect.left() + label.rect.width() + gap - other.rect.left());
        }
    }
    if (shift > 0) {
        for (PlacedControl& placed : layout.controls) {
            if (placed.control.x >= labelColumnEndUnits)
                placed.rect.translate(shift, 0);
            else if (placed.control.role != ControlRole::Label && placed.rect.right() >= columnEnd)
                placed.rect.setWidth(placed.rect.width() + shift);
        }
    }

    // A label is as tall as the box it names on its row, its text centred on that box.
    for (PlacedControl& label : layout.controls) {
        if (label.control.role != ControlRole::Label || label.control.x >= labelColumnEndUnits)
            continue;
        for (const PlacedControl& box : layout.controls) {
            const bool named = box.control.role == ControlRole::PathEdit
                || box.control.role == ControlRole::Slider;
            if (named && sameRow(label.rect, box.rect)) {
                label.rect.setTop(box.rect.top());
                label.rect.setHeight(box.rect.height());
                break;
            }
        }
    }

    // Each slider's value, right of the slider and as wide as its longest text.
    const int readoutWidth = std::max(metrics.horizontalAdvance(QStringLiteral("100 %")),
                                 metrics.horizontalAdvance(QStringLiteral("2.00×")))
        + 1;
    for (const PlacedControl& placed : layout.controls) {
        if (placed.control.role == ControlRole::Slider)
            layout.readouts.push_back({ placed.control.id,
                QRect(placed.rect.right() + 1 + gap, placed.rect.top(), readoutWidth,
                    placed.rect.height()) });
    }

    const QRect client = toPixels(units, 0, 0, dialogWidthUnits, dialogHeightUnits);
    layout.clientSize = QSize(client.width() + shift, client.height());
    for (const PlacedControl& placed : layout.controls)
        layout.clientSize.setWidth(
            std::max(layout.clientSize.width(), placed.rect.right() + 1 + gap));
    for (const SliderReadout& readout : layout.readouts)
        layout.clientSize.setWidth(
            std::max(layout.clientSize.width(), readout.rect.right() + 1 + gap));

    // The notice becomes the status line: the window's width, two lines of text.
    QRect notice;
    for (PlacedControl& placed : layout.controls) {
        if (placed.control.id == app::control::notice) {
            placed.rect.setWidth(layout.clientSize.width() - 2 * placed.rect.left());
            placed.rect.setHeight(std::max(placed.rect.height(), 2 * metrics.lineSpacing() + 2));
            notice = placed.rect;
        }
    }

    const QRect margin = toPixels(units, 0, 0, meterMarginUnits, meterMarginUnits);
    const int meterTop = std::max(notice.bottom() + 1, client.height()) + margin.height() / 2;
    const int meterHeight = toPixels(units, 0, 0, 0, meterPanelHeightUnits).height();
    layout.meterPanel = QRect(
        margin.width(), meterTop, layout.clientSize.width() - 2 * margin.width(), meterHeight);
    layout.clientSize.setHeight(layout.meterPanel.bottom() + 1 + margin.height());
    return layout;
}

} // namespace lumivox::app
