#pragma once

#include "job/run_report.h"

#include <QColor>
#include <QPalette>
#include <QString>

namespace lumivox::app {

// What the window's status line says, and what its tooltip adds.
struct StatusLine {
    QString text;
    QString toolTip;
    bool warning = false; // shown with the warning sign and colour: something went amiss
};

QString vocodingStatus(int percent); // "Vocoding… 42 %"
QString previewingStatus(double secondsHeard); // "Previewing… 0:12"

// The line shown after a run: how it ended, how much audio it left and where, and a clip warning.
// outputPath is the file the run wrote to (Vocode only).
StatusLine runEndStatus(const job::RunReport& report, const QString& outputPath);

// The line shown as soon as a failure's message box opens: "Failed: " and the message's first
// sentence as a clause, then the box's detail (the file and the cause) in brackets.
QString failureStatus(const QString& message, const QString& detail = {});

// A tooltip that shows its text as it is, also when the text (a file name) looks like markup.
QString plainToolTip(const QString& text);

// The colour a warning's text takes on this palette: amber, dark on a light window and light on a
// dark one.
QColor warningColour(const QPalette& palette);

// The hint shown when a start is refused because the box with this control id is empty.
QString emptyBoxHint(int pathControlId);

// Minutes and seconds, "0:12", "12:05"; seconds are cut, not rounded, as a clock shows them.
QString clockTime(double seconds);

} // namespace lumivox::app
