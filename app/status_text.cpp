#include "status_text.h"

#include "control_help.h"
#include "control_ids.h"
#include "job/job_messages.h"
#include "job/run_facts.h"

#include <QTextDocument>
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

    // " (carrier.mp3: the file ends part way)": what the failure's box said under its message.
    QString detailClause(const QString& detail)
    {
        const QString trimmed = detail.trimmed();
        return trimmed.isEmpty() ? QString() : QStringLiteral(" (") + trimmed + QLatin1Char(')');
    }

    // " — modulator resampled from 22050 Hz to 44100 Hz", or nothing when the inputs were used
    // as they are.
    QString conversionClause(const std::string& conversion)
    {
        if (conversion.empty())
            return {};
        return QStringLiteral(" — ") + QString::fromStdString(conversion);
    }

    QString clipWarning(const job::RunReport& report)
    {
        if (report.clippedSamples == 0)
            return {};
        const double safeGain = job::clipFreeGainPosition(report.clipFreeGain) / 50.0;
        // Float samples are stored as they are: beyond full scale, but not clipped.
        return (report.floatOutput
                ? QStringLiteral(" — %1 %2 beyond full scale (float, not clamped); an Output "
                                 "Gain of %3× or less would keep within it")
                : QStringLiteral(" — %1 %2 clipped; an Output Gain of %3× or less would not clip"))
            .arg(report.clippedSamples)
            .arg(report.clippedSamples == 1 ? QStringLiteral("sample") : QStringLiteral("samples"))
            .arg(safeGain, 0, 'f', 2);
    }

    // On a line of its own: which input ended first and how much of the other was left out.
    QString cutShortNote(const job::RunReport& report)
    {
        const std::optional<job::CutShort> cut = job::cutShortOf(report);
        if (!cut)
            return {};
        const QString leftOut = cut->secondsLeftOut < 0.005 ? QStringLiteral("less than 0.01 s")
                                                            : seconds(cut->secondsLeftOut);
        return cut->carrierEndedFirst
            ? QStringLiteral("\nThe carrier ended first; %1 of the modulator was left out.")
                  .arg(leftOut)
            : QStringLiteral("\nThe modulator ended first; %1 of the carrier was left out.")
                  .arg(leftOut);
    }

    // " — written as WAV: the ending .xyz is not one of …": the file is not in the format its
    // name promises.
    QString outputNoteClause(const std::string& note)
    {
        return note.empty() ? QString() : QStringLiteral(" — ") + QString::fromStdString(note);
    }

    QString shortInputNote(const std::optional<job::ShortInput>& input)
    {
        if (!input)
            return {};
        return QStringLiteral(" — ") + QString::fromStdString(job::shortInputWarning(*input));
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
    // The whole path: a name alone does not say which folder the file went to.
    const QString& fileName = outputPath;
    const QString kept = seconds(report.secondsDone) + QStringLiteral(" kept in ") + fileName;
    const QString cause = detailClause(QString::fromStdString(report.failureDetail));
    // Only a run that reached its loop knows its length; a refused one has written nothing.
    const bool reachedTheLoop = report.secondsTotal > 0.0 || report.secondsDone > 0.0;
    StatusLine line;

    if (report.mode == JobMode::Preview) {
        switch (report.outcome) {
        case JobOutcome::Finished:
            line.text = QStringLiteral("Preview finished") + conversionClause(report.conversion);
            break;
        case JobOutcome::Stopped:
            line.text = QStringLiteral("Preview stopped at ") + clockTime(report.secondsDone);
            break;
        case JobOutcome::Failed:
        case JobOutcome::ProgramEnded:
            line.text = (reachedTheLoop ? QStringLiteral("Preview stopped: ")
                                        : QStringLiteral("Failed: "))
                + failureClause(report.failure) + cause;
            break;
        }
        line.text += clipWarning(report) + shortInputNote(report.shortInput) + cutShortNote(report);
        line.warning = report.clippedSamples > 0 || report.shortInput.has_value();
        return line;
    }

    switch (report.outcome) {
    case JobOutcome::Finished:
        line.text = QStringLiteral("Done: ") + seconds(report.secondsDone)
            + QStringLiteral(" written to ") + fileName + QStringLiteral(", peak ")
            + decibelText(report.peak, QStringLiteral("dBFS"))
            + conversionClause(report.conversion);
        line.toolTip = outputPath;
        break;
    case JobOutcome::Stopped:
        // The total only where a file bore it out: a header's claim would be no figure to give.
        line.text = QStringLiteral("Cancelled: ") + seconds(report.secondsDone)
            + (report.totalKnown ? QStringLiteral(" of ") + seconds(report.secondsTotal)
                                 : QString())
            + QStringLiteral(" kept in ") + fileName;
        line.toolTip = outputPath;
        break;
    case JobOutcome::Failed:
    case JobOutcome::ProgramEnded:
        if (reachedTheLoop) {
            QString clause = failureClause(report.failure);
            // "the output wave file could not be written" says more than the user needs here.
            if (report.failure == job::message::outputNotWritten)
                clause = QStringLiteral("the output could not be written");
            line.text = QStringLiteral("Stopped: ") + clause + cause + QStringLiteral("; ") + kept;
            line.toolTip = outputPath;
        } else {
            line.text = QStringLiteral("Failed: ") + failureClause(report.failure) + cause;
        }
        break;
    }
    line.text += outputNoteClause(report.outputNote) + clipWarning(report)
        + shortInputNote(report.shortInput) + cutShortNote(report);
    line.warning
        = report.clippedSamples > 0 || report.shortInput.has_value() || !report.outputNote.empty();
    return line;
}

QString failureStatus(const QString& message, const QString& detail)
{
    return QStringLiteral("Failed: ") + failureClause(message.toStdString()) + detailClause(detail);
}

QString plainToolTip(const QString& text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

QColor warningColour(const QPalette& palette)
{
    const bool darkWindow = palette.color(QPalette::Window).lightness() < 128;
    return darkWindow ? QColor(0xf0, 0xb0, 0x40) : QColor(0xa0, 0x50, 0x00);
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
