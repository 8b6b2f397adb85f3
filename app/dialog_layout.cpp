#include "dialog_layout.h"

#include "control_ids.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

namespace lumivox::app {

namespace {
    enum Column { labelColumn = 0, middleColumn = 1, rightColumn = 2, columnCount = 3 };

    // The least width of the path boxes and sliders, in average character widths: enough to
    // see where a path ends and to set a slider with the mouse.
    constexpr int middleLeastChars = 24;
    // The band meters' least height, in lines of text: bars tall enough to read and their labels.
    constexpr int meterLeastLines = 5;

    ControlRole roleOf(int controlId)
    {
        for (const ControlTemplate& control : dialogTemplate()) {
            if (control.id == controlId)
                return control.role;
        }
        return ControlRole::Label;
    }

    bool takesSpareWidth(int controlId)
    {
        const ControlRole role = roleOf(controlId);
        return role == ControlRole::PathEdit || role == ControlRole::Slider;
    }

    // The middle cell of a row: one control alone fills it; several stand side by side, the
    // path boxes and sliders among them stretching, the others keeping their own width.
    void placeMiddle(QGridLayout& grid, int row, const GridRow& gridRow, const WindowParts& parts)
    {
        auto* cell = new QHBoxLayout;
        bool stretches = false;
        for (const int controlId : gridRow.middleIds) {
            if (QWidget* widget = controlId == noControl ? nullptr : parts.control(controlId)) {
                const bool wide = takesSpareWidth(controlId);
                cell->addWidget(widget, wide ? 1 : 0);
                stretches = stretches || wide;
            }
        }
        if (!stretches)
            cell->addStretch(1);
        grid.addLayout(cell, row, middleColumn);
    }

    QWidget* rightOf(const GridRow& gridRow, const WindowParts& parts)
    {
        if (gridRow.rightId != noControl)
            return parts.control(gridRow.rightId);
        const int first = gridRow.middleIds.front();
        if (first != noControl && roleOf(first) == ControlRole::Slider)
            return parts.readout(first);
        return nullptr;
    }

    // Buttons that change their caption while a run goes keep one width, that of the longest.
    void evenButtonWidths(const GridRow& gridRow, const WindowParts& parts)
    {
        int widest = 0;
        for (const int controlId : gridRow.middleIds) {
            if (controlId != noControl && roleOf(controlId) == ControlRole::PushButton)
                widest = std::max(widest, parts.control(controlId)->sizeHint().width());
        }
        if (widest == 0)
            return;
        const int padding
            = 4 * QFontMetrics(parts.control(gridRow.middleIds.front())->font()).averageCharWidth();
        for (const int controlId : gridRow.middleIds) {
            if (controlId != noControl && roleOf(controlId) == ControlRole::PushButton)
                parts.control(controlId)->setMinimumWidth(widest + padding);
        }
    }
}

QGridLayout* layOutWindow(QWidget& window, const WindowParts& parts)
{
    auto* grid = new QGridLayout(&window);
    const QFontMetrics metrics(window.font());

    int row = 0;
    int rowHeight = 0;
    for (const GridRow& gridRow : gridRows()) {
        if (gridRow.labelId != noControl) {
            if (QWidget* label = parts.control(gridRow.labelId)) {
                static_cast<QLabel*>(label)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                grid->addWidget(label, row, labelColumn);
            }
        }
        evenButtonWidths(gridRow, parts);
        placeMiddle(*grid, row, gridRow, parts);
        if (QWidget* right = rightOf(gridRow, parts))
            grid->addWidget(right, row, rightColumn);
        for (int column = 0; column < columnCount; ++column) {
            if (const QLayoutItem* item = grid->itemAtPosition(row, column))
                rowHeight = std::max(rowHeight, item->sizeHint().height());
        }
        ++row;
    }
    // Every row as tall as the tallest: the rows stand evenly apart whatever each one holds.
    for (int gridRow = 0; gridRow < row; ++gridRow)
        grid->setRowMinimumHeight(gridRow, rowHeight);
    grid->setColumnMinimumWidth(middleColumn, middleLeastChars * metrics.averageCharWidth());
    grid->setColumnStretch(middleColumn, 1);

    grid->addWidget(parts.control(control::progressBar), row++, labelColumn, 1, columnCount);

    auto* status = new QHBoxLayout;
    status->addWidget(parts.statusIcon, 0, Qt::AlignTop);
    status->addWidget(parts.control(control::notice), 1);
    grid->addLayout(status, row++, labelColumn, 1, columnCount);

    parts.meter->setMinimumHeight(meterLeastLines * metrics.lineSpacing());
    grid->addWidget(parts.meter, row, labelColumn, 1, columnCount);
    grid->setRowStretch(row, 1);
    return grid;
}

QSize openingSize(QSize leastSize, QSize availableArea)
{
    QSize size(leastSize.width() * 4 / 3, leastSize.height() * 6 / 5);
    if (availableArea.isValid())
        size = size.boundedTo(availableArea);
    return size.expandedTo(leastSize);
}

} // namespace lumivox::app
