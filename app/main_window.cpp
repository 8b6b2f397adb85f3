#include "main_window.h"

#include "dialog_layout.h"
#include "job/audio_library.h"
#include "job/control_ids.h"
#include "message_boxes.h"
#include "path_edit.h"
#include "program_icon.h"
#include "window_port.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <chrono>
#include <thread>

namespace lumivox::app {

namespace {
    namespace id = job::control;
    using job::JobMode;
    using StartResult = job::JobThread::StartResult;

    constexpr int pendingCloseIntervalMs = 50;

    bool isSlider(int controlId)
    {
        return controlId == id::clearanceSlider || controlId == id::vaguenessSlider
            || controlId == id::gainSlider;
    }
}

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , fileChooser(runFileDialog)
    , quitHandler([](int exitCode) { QCoreApplication::exit(exitCode); })
    , port(std::make_unique<WindowPort>(*this))
    , jobThread(std::make_unique<job::JobThread>(state, *port))
{
    jobStarter = [this](JobMode mode) { return jobThread->tryStart(mode); };
    setWindowTitle(QString::fromUtf8(windowCaption));
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    createControls();

    // The window opens at the top-left corner of the screen, whatever the desktop would choose.
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().topLeft());
    else
        move(0, 0);

    pendingClose.setInterval(pendingCloseIntervalMs);
    connect(&pendingClose, &QTimer::timeout, this, &MainWindow::checkPendingClose);

    job::startAudioLibrary();
}

MainWindow::~MainWindow()
{
    pendingClose.stop();
    state.stopRequested = true;
    port->detach();
    // A job still on its way out may be waiting for one last call on this thread; serve it until
    // the job has returned, so that joining its thread below cannot hang.
    while (state.jobActive) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

job::DialogPort& MainWindow::dialogPort() { return *port; }

void MainWindow::createControls()
{
    const DialogLayout layout = layOutDialog(fontMetrics());
    QWidget* previousStop = nullptr;
    for (const PlacedControl& placed : layout.controls) {
        const ControlTemplate& templ = placed.control;
        const QString text = QString::fromUtf8(templ.text);
        QWidget* widget = nullptr;
        switch (templ.role) {
        case ControlRole::Label:
            widget = new QLabel(text, this);
            break;
        case ControlRole::PathEdit:
            widget = new PathEdit(this);
            break;
        case ControlRole::PushButton: {
            auto* button = new QPushButton(text, this);
            // Enter presses the focused button, and Vocode when the focus is elsewhere.
            button->setAutoDefault(true);
            button->setDefault(templ.id == id::vocodeButton);
            const int controlId = templ.id;
            connect(
                button, &QPushButton::clicked, this, [this, controlId] { runCommand(controlId); });
            widget = button;
            break;
        }
        case ControlRole::Slider: {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setRange(0, 100);
            slider->setTickPosition(QSlider::NoTicks);
            slider->setSingleStep(1);
            slider->setPageStep(20);
            slider->setValue(templ.id == id::gainSlider ? 50 : 0);
            widget = slider;
            break;
        }
        case ControlRole::ProgressBar: {
            auto* progress = new QProgressBar(this);
            progress->setRange(0, 100);
            progress->setValue(0);
            progress->setTextVisible(false);
            widget = progress;
            break;
        }
        }
        widget->setObjectName(QStringLiteral("control%1").arg(templ.id));
        widget->setGeometry(placed.rect);
        controls.at(static_cast<std::size_t>(templ.id)) = widget;
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (previousStop != nullptr)
                setTabOrder(previousStop, widget);
            previousStop = widget;
        }
    }

    // Each slider and path box is named by the label to its left, for screen readers.
    const std::pair<int, int> labelled[]
        = { { id::carrierPath, id::carrierLabel }, { id::modulatorPath, id::modulatorLabel },
              { id::outputPath, id::outputLabel }, { id::clearanceSlider, id::clearanceLabel },
              { id::vaguenessSlider, id::vaguenessLabel }, { id::gainSlider, id::gainLabel } };
    for (const auto& [controlId, labelId] : labelled) {
        auto* label = static_cast<QLabel*>(control(labelId));
        label->setBuddy(control(controlId));
        control(controlId)->setAccessibleName(label->text());
    }

    resize(layout.clientSize);
    control(id::carrierPath)->setFocus(Qt::OtherFocusReason);
}

QWidget* MainWindow::control(int controlId) const
{
    if (controlId < 0 || static_cast<std::size_t>(controlId) >= controls.size())
        return nullptr;
    return controls.at(static_cast<std::size_t>(controlId));
}

QLineEdit* MainWindow::pathEdit(int controlId) const
{
    return static_cast<QLineEdit*>(control(controlId));
}

std::string MainWindow::pathIn(int controlId) const
{
    // The whole path, in the file system's encoding: a cut path would name another file.
    return QFile::encodeName(pathEdit(controlId)->text()).toStdString();
}

void MainWindow::runCommand(int controlId)
{
    switch (controlId) {
    case id::carrierBrowse:
        chooseFile(FileChooserKind::Carrier);
        break;
    case id::modulatorBrowse:
        chooseFile(FileChooserKind::Modulator);
        break;
    case id::outputBrowse:
        chooseFile(FileChooserKind::Output);
        break;
    case id::vocodeButton:
        startOrStopJob(JobMode::Vocode);
        break;
    case id::previewButton:
        startOrStopJob(JobMode::Preview);
        break;
    case id::aboutButton:
        showAbout();
        break;
    default:
        break;
    }
}

void MainWindow::chooseFile(FileChooserKind kind)
{
    if (state.jobBusy)
        return;
    const int editId = kind == FileChooserKind::Carrier ? id::carrierPath
        : kind == FileChooserKind::Modulator            ? id::modulatorPath
                                                        : id::outputPath;
    if (const std::optional<QString> chosen = fileChooser(this, kind); chosen && !chosen->isEmpty())
        pathEdit(editId)->setText(*chosen);
}

void MainWindow::startOrStopJob(JobMode mode)
{
    if (state.jobBusy) {
        if (state.previewRunning && mode != JobMode::Preview)
            return;
        state.stopRequested = true;
        return;
    }
    // A job still being set up (or finishing) reads the paths: leave them and the job alone.
    if (state.jobActive)
        return;

    std::string carrier = pathIn(id::carrierPath);
    if (carrier.empty())
        return;
    std::string modulator = pathIn(id::modulatorPath);
    if (modulator.empty())
        return;
    std::string output;
    if (mode == JobMode::Vocode) {
        output = pathIn(id::outputPath);
        if (output.empty())
            return;
    }

    state.carrierPath = std::move(carrier);
    state.modulatorPath = std::move(modulator);
    if (mode == JobMode::Vocode)
        state.outputPath = std::move(output);
    state.stopRequested = false;
    state.closeRequested = false;

    switch (jobStarter(mode)) {
    case StartResult::Started:
    case StartResult::AlreadyActive: // a job is being set up: this command is ignored
        break;
    case StartResult::ThreadFailed:
        showError(QString::fromUtf8(threadFailedMessage));
        break;
    }
}

void MainWindow::showAbout()
{
    if (state.jobBusy)
        return;
    makeAboutBox(this)->exec();
}

int MainWindow::sliderPosition(int controlId) const
{
    if (!isSlider(controlId))
        return 0;
    return static_cast<const QSlider*>(control(controlId))->value();
}

void MainWindow::setProgress(int percent)
{
    static_cast<QProgressBar*>(control(id::progressBar))->setValue(std::clamp(percent, 0, 100));
}

void MainWindow::setButtonText(int controlId, const QString& text)
{
    if (auto* button = qobject_cast<QPushButton*>(control(controlId)))
        button->setText(text);
}

void MainWindow::setControlEnabled(int controlId, bool enabled)
{
    if (QWidget* widget = control(controlId))
        widget->setEnabled(enabled);
}

void MainWindow::showError(const QString& message, const QString& detail)
{
    makeErrorBox(this, message, detail)->exec();
}

bool MainWindow::askQuestion(const QString& question)
{
    return makeQuestionBox(this, question)->exec() == QMessageBox::Yes;
}

void MainWindow::endProgram()
{
    // The job has completed its output; from here on it must not wait for this window.
    port->detach();
    pendingClose.stop();
    quitHandler(0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (state.jobBusy || state.jobActive) {
        // The job answers before its next block. One still being set up, or already finishing,
        // may never look: the timer then ends the program once that job has returned.
        state.closeRequested = true;
        event->ignore();
        if (!pendingClose.isActive())
            pendingClose.start();
        return;
    }
    event->accept();
    quitHandler(0);
}

void MainWindow::checkPendingClose()
{
    if (!state.closeRequested) {
        pendingClose.stop(); // the job asked and the user chose to go on
        return;
    }
    if (state.jobBusy || state.jobActive || port->isDetached())
        return;
    pendingClose.stop();
    state.closeRequested = false;
    hide();
    quitHandler(0);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter in a path box or on a slider (which leave it to their window) presses Vocode.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* vocode = static_cast<QPushButton*>(control(id::vocodeButton));
        if (vocode->isEnabled())
            vocode->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace lumivox::app
