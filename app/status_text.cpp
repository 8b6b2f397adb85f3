#include "status_text.h"

#include "control_ids.h"
#include "job/job_messages.h"

#include <QFileInfo>
#include <cmath>

namespace lumivox::app {

namespace {
    using job::JobMode;
    using job::JobOutcome;

    QString seconds(double value) { return QStringLiteral("%1 s").arg(value, 0, 'f', 2); }

    // The first sentence of a message box's text, without its full stop and with a small first
    // letter, so that it reads as part of a line: "the carrier wave file could not be opened".
    QString failureClause(const std::string& failure)
    {
        QString clause = QString::fromStdString(failure).trimmed();
        if (const qsizetype end = clause.indexOf(QStringLiteral(". ")); end >= 0)
            clause.truncate(end + 1);
        if (clause.endsWith(QLatin1Char('.')))
            clause.chop(1);
        if (clause.isEmpty())
            return QStringLiteral("something went wrong");
        if (clause.size() > 1 && clause.at(1).isLower())
            clause[0] = clause.at(0).toLower();
        return clause;
    }

    QString clipWarning(std::uint64_t clippedSamples)
    {
        if (clippedSamples == 0)
            return {};
        return QStringLiteral(" — %1 %2 clipped; lower Output Gain")
            .arg(clippedSamples)
            .arg(clippedSamples == 1 ? QStringLiteral("sample") : QStringLiteral("samples"));
    }
}

QString vocodingStatus(int percent) { return QStringLiteral("Vocoding… %1 %").arg(percent); }

QString previewingStatus(double secondsHeard)
{
    return QStringLiteral("Previewing… ") + clockTime(secondsHeard);
}

QString clockTime(double seconds)
{
    const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

StatusLine runEndStatus(const job::RunReport& report, const QString& outputPath)
{
    const QString fileName = QFileInfo(outputPath).fileName();
    const QString kept = seconds(report.secondsDone) + QStringLiteral(" kept in ") + fileName;
    // Only a run that reached its loop knows its length; a refused one has written nothing.
    const bool reachedTheLoop = report.secondsTotal > 0.0 || report.secondsDone > 0.0;
    StatusLine line;

    if (report.mode == JobMode::Preview) {
        switch (report.outcome) {
        case JobOutcome::Finished:
            line.text = QStringLiteral("Preview finished");
            break;
        case JobOutcome::Stopped:
            line.text = QStringLiteral("Preview stopped at ") + clockTime(report.secondsDone);
            break;
        case JobOutcome::Failed:
        case JobOutcome::ProgramEnded:
            line.text = (reachedTheLoop ? QStringLiteral("Preview stopped: ")
                                        : QStringLiteral("Failed: "))
                + failureClause(report.failure);
            break;
        }
        line.text += clipWarning(report.clippedSamples);
        return line;
    }

    switch (report.outcome) {
    case JobOutcome::Finished:
        line.text = QStringLiteral("Done: ") + seconds(report.secondsDone)
            + QStringLiteral(" written to ") + fileName;
        line.toolTip = outputPath;
        break;
    case JobOutcome::Stopped:
        line.text = QStringLiteral("Cancelled: ") + seconds(report.secondsDone)
            + QStringLiteral(" of ") + seconds(report.secondsTotal) + QStringLiteral(" kept in ")
            + fileName;
        line.toolTip = outputPath;
        break;
    case JobOutcome::Failed:
    case JobOutcome::ProgramEnded:
        if (reachedTheLoop) {
            QString clause = failureClause(report.failure);
            // "the output wave file could not be written" says more than the user needs here.
            if (report.failure == job::message::outputNotWritten)
                clause = QStringLiteral("the output could not be written");
            line.text = QStringLiteral("Stopped: ") + clause + QStringLiteral("; ") + kept;
            line.toolTip = outputPath;
        } else {
            line.text = QStringLiteral("Failed: ") + failureClause(report.failure);
        }
        break;
    }
    line.text += clipWarning(report.clippedSamples);
    return line;
}

QString emptyBoxHint(int pathControlId)
{
    switch (pathControlId) {
    case app::control::carrierPath:
        return QStringLiteral("Name a carrier file first.");
    case app::control::modulatorPath:
        return QStringLiteral("Name a modulator file first.");
    default:
        break;
    }
    return QStringLiteral("Name an output file first.");
}

} // namespace lumivox::app
