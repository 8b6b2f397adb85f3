#include "message_boxes.h"

#include "program_arguments.h"

#include <QLabel>
#include <QMessageBox>

namespace lumivox::app {

namespace {
    std::unique_ptr<QMessageBox> makeBox(QWidget* owner, QMessageBox::Icon icon,
        const QString& caption, const QString& text, QMessageBox::StandardButtons buttons)
    {
        auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, owner);
        box->setWindowModality(Qt::ApplicationModal);
        box->setTextFormat(Qt::PlainText);
        return box;
    }
}

std::unique_ptr<QMessageBox> makeErrorBox(
    QWidget* owner, const QString& message, const QString& detail)
{
    auto box
        = makeBox(owner, QMessageBox::Critical, QStringLiteral("Error"), message, QMessageBox::Ok);
    if (!detail.isEmpty()) {
        box->setInformativeText(detail);
        // The detail names a file, which may look like markup; the box's text format covers
        // its main text only.
        for (QLabel* label : box->findChildren<QLabel*>())
            label->setTextFormat(Qt::PlainText);
    }
    return box;
}

std::unique_ptr<QMessageBox> makeReplaceQuestionBox(QWidget* owner, const QString& path)
{
    // The output chooser's own question, asked of a typed name as well.
    auto box = makeBox(owner, QMessageBox::Warning, QStringLiteral("Question"),
        QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path),
        QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

std::unique_ptr<QMessageBox> makeQuestionBox(QWidget* owner, const QString& question)
{
    auto box = makeBox(owner, QMessageBox::NoIcon, QStringLiteral("Question"), question,
        QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

std::unique_ptr<QMessageBox> makeAboutBox(QWidget* owner)
{
    return makeBox(
        owner, QMessageBox::NoIcon, QStringLiteral("About"), aboutText(), QMessageBox::Ok);
}

QString aboutText()
{
    return QStringLiteral(
        "Lumivox\n"
        "Version " LUMIVOX_VERSION "\n"
        "\n"
        "A 32-band channel vocoder: the modulator's voice shapes the carrier's sound.\n"
        "Written by the Lumivox authors.\n"
        "Audio output through PortAudio; window made with Qt.");
}

} // namespace lumivox::app
