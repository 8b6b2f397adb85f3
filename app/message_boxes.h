#pragma once

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace lumivox::app {

inline constexpr const char* threadFailedMessage
    = "An internal error occured while trying to create the background processing thread.";

// The window's modal boxes, built but not shown, so that callers decide how to run them.
// "Error"; a detail (the file and the cause) becomes the box's informative text.
std::unique_ptr<QMessageBox> makeErrorBox(
    QWidget* owner, const QString& message, const QString& detail = {});
std::unique_ptr<QMessageBox> makeQuestionBox(QWidget* owner, const QString& question); // Yes/No
std::unique_ptr<QMessageBox> makeAboutBox(QWidget* owner);
// "PATH already exists. Do you want to replace it?", Yes/No, No the default.
std::unique_ptr<QMessageBox> makeReplaceQuestionBox(QWidget* owner, const QString& path);

QString aboutText();

} // namespace lumivox::app
