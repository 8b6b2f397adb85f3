#pragma once

#include "job/run_report.h"

#include <QString>

namespace lumivox::app {

// What the window's status line says, and what its tooltip adds.
struct StatusLine {
    QString text;
    QString toolTip;
};

QString vocodingStatus(int percent); // "Vocoding… 42 %"
QString previewingStatus(double secondsHeard); // "Previewing… 0:12"

// The line shown after a run: how it ended, how much audio it left and where, and a clip warning.
// outputPath is the file the run wrote to (Vocode only).
StatusLine runEndStatus(const job::RunReport& report, const QString& outputPath);

// The hint shown when a start is refused because the box with this control id is empty.
QString emptyBoxHint(int pathControlId);

// Minutes and seconds, "0:12", "12:05"; seconds are cut, not rounded, as a clock shows them.
QString clockTime(double seconds);

} // namespace lumivox::app
