#include "main_window.h"

#include "band_controls.h"
#include "band_meter.h"
#include "carrier_controls.h"
#include "control_help.h"
#include "control_ids.h"
#include "dialog_layout.h"
#include "job/audio_library.h"
#include "live_runner.h"
#include "message_boxes.h"
#include "path_edit.h"
#include "program_icon.h"
#include "status_text.h"
#include "typed_path.h"
#include "window_memory.h"
#include "window_port.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <array>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

namespace lumivox::app {

namespace {
    namespace id = app::control;
    using job::JobMode;
    using StartResult = job::JobThread::StartResult;

    constexpr int pendingCloseIntervalMs = 50;
    constexpr int meterIntervalMs = 35; // about 28 repaints a second
    constexpr std::chrono::milliseconds progressInterval { 100 };

    // The path controls and About, which a run takes over (the carrier's controls with them), and
    // the sliders, which a Vocode takes over too (a Preview lets them be moved and heard).
    constexpr std::array pathControls { id::modulatorPath, id::modulatorBrowse, id::outputPath,
        id::outputBrowse, id::aboutButton, id::normalize };
    constexpr std::array sliders { id::clearanceSlider, id::vaguenessSlider, id::gainSlider,
        id::claritySlider };

    bool isSlider(int controlId)
    {
        return std::find(sliders.begin(), sliders.end(), controlId) != sliders.end();
    }
}

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , fileChooser(runFileDialog)
    , quitHandler([](int exitCode) { QCoreApplication::exit(exitCode); })
    , meterClock([] { return std::chrono::steady_clock::now(); })
    , port(std::make_unique<WindowPort>(*this))
    , jobThread(std::make_unique<job::JobThread>(state, *port))
{
    jobStarter
        = [this](job::JobSettings settings) { return jobThread->tryStart(std::move(settings)); };
    setWindowTitle(QString::fromUtf8(windowCaption));
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    createControls();
    createShortcuts();
    if (const QSize size = rememberedWindowSize(); size.isValid()) {
        const QScreen* opensOn = screen();
        resize(fittedWindowSize(
            size, minimumSize(), opensOn ? opensOn->availableGeometry().size() : QSize()));
    }

    // The window opens at the top-left corner of the screen, whatever the desktop would choose.
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().topLeft());
    else
        move(0, 0);

    pendingClose.setInterval(pendingCloseIntervalMs);
    connect(&pendingClose, &QTimer::timeout, this, &MainWindow::checkPendingClose);
    meterTimer.setInterval(meterIntervalMs);
    connect(&meterTimer, &QTimer::timeout, this, &MainWindow::advanceMeters);

    for (const int sliderId : sliders) {
        // A live run hears a slider as it moves.
        connect(static_cast<QSlider*>(control(sliderId)), &QSlider::valueChanged, this, [this] {
            if (liveRunning())
                live->setSound(soundSettings());
        });
    }
    setLiveAudioOpener({});

    job::startAudioLibrary();
}

MainWindow::~MainWindow()
{
    live.reset(); // stops the audio, and waits for the run to let it go
    pendingClose.stop();
    meterTimer.stop();
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

job::JobEvents& MainWindow::jobEvents() { return *port; }

void MainWindow::createControls()
{
    QWidget* previousStop = nullptr;
    for (const ControlTemplate& templ : dialogTemplate()) {
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
            // Enter presses the focused Vocode or Preview, and Vocode when the focus is elsewhere:
            // the focus stays on a Browse... or About after its box closes, and Enter must not
            // open that box again (Space still presses a focused button).
            button->setAutoDefault(templ.id == id::vocodeButton || templ.id == id::previewButton);
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
        case ControlRole::DropDown:
            widget = new QComboBox(this);
            break;
        case ControlRole::NumberBox:
            widget = new QSpinBox(this);
            break;
        case ControlRole::CheckBox:
            widget = new QCheckBox(text, this);
            break;
        case ControlRole::ProgressBar: {
            auto* progress = new QProgressBar(this);
            progress->setRange(0, 100);
            progress->setValue(0);
            // The percentage as text, so that the empty bar does not look like a text box.
            progress->setTextVisible(true);
            widget = progress;
            break;
        }
        }
        widget->setObjectName(QStringLiteral("control%1").arg(templ.id));
        widget->setToolTip(controlToolTip(templ.id));
        if (const QString name = controlAccessibleName(templ.id); !name.isEmpty())
            widget->setAccessibleName(name);
        controls.at(static_cast<std::size_t>(templ.id)) = widget;
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (previousStop != nullptr)
                setTabOrder(previousStop, widget);
            previousStop = widget;
        }
    }

    // Each slider and path box is named by the label to its left on the grid, for screen readers.
    for (const GridRow& row : gridRows()) {
        if (row.labelId != noControl && row.middleIds.front() != noControl)
            static_cast<QLabel*>(control(row.labelId))->setBuddy(control(row.middleIds.front()));
    }

    // The status line: three lines of text whatever the window's width (how a run ended, what
    // clipped, what was cut short), so that a long message neither widens the window nor moves
    // the meters.
    auto* notice = static_cast<QLabel*>(control(id::notice));
    notice->setTextFormat(Qt::PlainText); // it shows file names, which may look like markup
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    notice->setFixedHeight(3 * fontMetrics().lineSpacing() + 2);
    statusIcon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    statusIcon->setPixmap(style()
                              ->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this)
                              .pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    statusIcon->setAccessibleName(QStringLiteral("Warning"));
    statusIcon->hide();

    for (const ControlTemplate& templ : dialogTemplate()) {
        if (templ.role != ControlRole::Slider)
            continue;
        const int sliderId = templ.id;
        auto* slider = static_cast<QSlider*>(control(sliderId));
        auto* readout = new QLabel(sliderReadoutText(sliderId, slider->value()), this);
        readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // As wide as its longest text, so that the slider keeps its length while it moves.
        int widest = 0;
        for (int position = slider->minimum(); position <= slider->maximum(); ++position)
            widest = std::max(
                widest, fontMetrics().horizontalAdvance(sliderReadoutText(sliderId, position)));
        readout->setMinimumWidth(widest + 1);
        readout->setAccessibleName(slider->accessibleName() + QStringLiteral(" value"));
        connect(slider, &QSlider::valueChanged, readout, [readout, sliderId](int position) {
            readout->setText(sliderReadoutText(sliderId, position));
        });
        readouts.emplace_back(sliderId, readout);
    }

    fillCarrierControls();
    fillBandControls();

    meter = new BandMeter(this);
    layOutWindow(*this,
        { [this](int controlId) { return control(controlId); },
            [this](int sliderId) -> QWidget* { return sliderReadout(sliderId); }, statusIcon,
            meter })
        ->activate(); // sets the least size now, and places the controls before the first show
    const QScreen* screen = this->screen();
    resize(openingSize(
        minimumSize(), screen != nullptr ? screen->availableGeometry().size() : QSize()));
    // With a built-in sound the box is disabled and keeps no focus: the first control in the tab
    // order, the carrier's drop-down, takes it.
    control(id::carrierPath)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::fillCarrierControls()
{
    auto* kind = static_cast<QComboBox*>(control(id::carrierKind));
    kind->addItems(carrierKindNames());
    auto* root = static_cast<QComboBox*>(control(id::chordRoot));
    for (int note = engine::lowestChordRoot; note <= engine::highestChordRoot; ++note)
        root->addItem(QString::fromStdString(engine::noteName(note)), note);
    auto* type = static_cast<QComboBox*>(control(id::chordType));
    type->addItems(chordTypeNames());
    auto* interval = static_cast<QSpinBox*>(control(id::followInterval));
    interval->setRange(job::lowestFollowInterval, job::highestFollowInterval);
    interval->setSuffix(QStringLiteral(" semitones"));

    const job::CarrierChoice remembered = rememberedCarrierChoice();
    kind->setCurrentIndex(static_cast<int>(remembered.kind));
    root->setCurrentIndex(root->findData(remembered.chordRoot));
    type->setCurrentIndex(static_cast<int>(remembered.chordType));
    interval->setValue(remembered.followSemitones);
    enableCarrierControls(true);

    connect(kind, &QComboBox::currentIndexChanged, this, &MainWindow::carrierChoiceChanged);
    connect(root, &QComboBox::currentIndexChanged, this, &MainWindow::carrierChoiceChanged);
    connect(type, &QComboBox::currentIndexChanged, this, &MainWindow::carrierChoiceChanged);
    connect(interval, &QSpinBox::valueChanged, this, &MainWindow::carrierChoiceChanged);
}

void MainWindow::carrierChoiceChanged()
{
    rememberCarrierChoice(carrierChoice());
    enableCarrierControls(!state.jobBusy);
}

// While idle each carrier kind enables only the controls it uses; a run disables them all.
void MainWindow::enableCarrierControls(bool enabled)
{
    const CarrierControlUse use = controlsUsedBy(carrierChoice().kind);
    setControlEnabled(id::carrierKind, enabled);
    for (const int controlId : { id::carrierPath, id::carrierBrowse, id::repeatCarrier })
        setControlEnabled(controlId, enabled && use.file);
    setControlEnabled(id::chordRoot, enabled && use.chord);
    setControlEnabled(id::chordType, enabled && use.chord);
    setControlEnabled(id::followInterval, enabled && use.interval);
    // The bands are the run's too: a run keeps them as they were when it started.
    const bool custom = usesBandCount(bandChoice().kind);
    setControlEnabled(id::bandsKind, enabled);
    for (const int controlId : { id::bandCount, id::bandLowHz, id::bandHighHz })
        setControlEnabled(controlId, enabled && custom);
}

void MainWindow::fillBandControls()
{
    auto* kind = static_cast<QComboBox*>(control(id::bandsKind));
    kind->addItems(bandLayoutNames());
    auto* count = static_cast<QSpinBox*>(control(id::bandCount));
    count->setRange(engine::BandLayout::fewestBands, engine::BandLayout::mostBands);
    count->setSuffix(QStringLiteral(" bands"));
    auto* low = static_cast<QSpinBox*>(control(id::bandLowHz));
    auto* high = static_cast<QSpinBox*>(control(id::bandHighHz));
    for (QSpinBox* box : { low, high }) {
        box->setRange(lowestRangeBoxHz, highestRangeBoxHz);
        box->setSuffix(QStringLiteral(" Hz"));
    }
    low->setPrefix(QStringLiteral("from "));
    high->setPrefix(QStringLiteral("to "));

    const engine::LayoutChoice remembered = rememberedLayoutChoice();
    kind->setCurrentIndex(static_cast<int>(remembered.kind));
    count->setValue(remembered.count);
    const engine::BandRange range = remembered.range.value_or(
        engine::BandRange { std::round(engine::classicRange.lowHz), engine::classicRange.highHz });
    low->setValue(static_cast<int>(std::lround(range.lowHz)));
    high->setValue(static_cast<int>(std::lround(range.highHz)));
    enableCarrierControls(true);

    connect(kind, &QComboBox::currentIndexChanged, this, &MainWindow::bandChoiceChanged);
    for (QSpinBox* box : { count, low, high })
        connect(box, &QSpinBox::valueChanged, this, &MainWindow::bandChoiceChanged);
}

void MainWindow::bandChoiceChanged()
{
    engine::LayoutChoice kept = bandChoice();
    rememberLayoutChoice(kept);
    enableCarrierControls(!state.jobBusy);
}

engine::LayoutChoice MainWindow::bandChoice() const
{
    engine::LayoutChoice choice;
    choice.kind = static_cast<engine::LayoutKind>(
        std::max(0, static_cast<const QComboBox*>(control(id::bandsKind))->currentIndex()));
    choice.count = static_cast<const QSpinBox*>(control(id::bandCount))->value();
    const int low = static_cast<const QSpinBox*>(control(id::bandLowHz))->value();
    const int high = static_cast<const QSpinBox*>(control(id::bandHighHz))->value();
    choice.range = engine::BandRange { static_cast<double>(low), static_cast<double>(high) };
    return choice;
}

void MainWindow::createShortcuts()
{
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &MainWindow::stopFromKeyboard);
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quitKey, &QShortcut::activated, this, [this] { close(); });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &MainWindow::showAbout);
}

// Esc is Cancel while vocoding and Stop while previewing or live; when idle it does nothing.
void MainWindow::stopFromKeyboard()
{
    if (liveRunning())
        live->stop();
    if (state.jobBusy)
        state.stopRequested = true;
}

QLabel* MainWindow::statusLine() const { return static_cast<QLabel*>(control(id::notice)); }

QLabel* MainWindow::sliderReadout(int sliderId) const
{
    for (const auto& [readoutSlider, readout] : readouts) {
        if (readoutSlider == sliderId)
            return readout;
    }
    return nullptr;
}

void MainWindow::showStatus(const QString& text, const QString& toolTip, bool warning)
{
    QLabel* line = statusLine();
    line->setText(text);
    line->setToolTip(plainToolTip(toolTip));
    statusIcon->setVisible(warning);
    if (warning) {
        QPalette palette = line->palette();
        palette.setColor(QPalette::WindowText, warningColour(this->palette()));
        line->setPalette(palette);
    } else {
        line->setPalette(QPalette());
    }
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
    case id::liveButton:
        startOrStopLive();
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
    if (const std::optional<QString> chosen = fileChooser(this, kind);
        chosen && !chosen->isEmpty()) {
        pathEdit(editId)->setText(*chosen);
        rememberFolder(kind, QFileInfo(*chosen).absolutePath());
        if (kind == FileChooserKind::Output)
            agreedOutput = *chosen; // the chooser has asked before replacing it
    }
}

QString MainWindow::chooserFolder(FileChooserKind kind)
{
    const QString folder = rememberedFolder(kind);
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

bool MainWindow::mayWriteOutput(const BoxPaths& paths)
{
    const QFileInfo output(paths.output);
    // A folder, or one of the inputs, is refused by the job with its own message; a file this
    // window has already written, or the user has already agreed to replace, is not asked about
    // again.
    if (!output.exists() || output.isDir() || paths.output == agreedOutput)
        return true;
    for (const QString& input : { paths.carrier, paths.modulator }) {
        if (!input.isEmpty() && QFileInfo(input).canonicalFilePath() == output.canonicalFilePath())
            return true;
    }
    const QString& outputPath = paths.output;
    if (makeReplaceQuestionBox(this, outputPath)->exec() != QMessageBox::Yes)
        return false;
    agreedOutput = outputPath;
    return true;
}

void MainWindow::startOrStopJob(JobMode mode)
{
    if (liveRunning())
        return;
    if (state.jobBusy) {
        if (state.previewRunning && mode != JobMode::Preview)
            return;
        state.stopRequested = true;
        return;
    }
    // A job still being set up (or finishing) reads the paths: leave them and the job alone.
    if (state.jobActive)
        return;

    // "~" is the home folder and a relative path is taken from the inputs' folder, never from
    // the folder the program happened to start in; the boxes then show the paths used.
    const job::CarrierChoice carrierSound = carrierChoice();
    const bool carrierIsFile = carrierSound.kind == job::CarrierKind::File;
    const BoxPaths paths = resolvedBoxPaths(
        { carrierIsFile ? pathEdit(id::carrierPath)->text() : QString(),
            pathEdit(id::modulatorPath)->text(),
            mode == JobMode::Vocode ? pathEdit(id::outputPath)->text() : QString() },
        QDir::homePath(), chooserFolder(FileChooserKind::Carrier),
        chooserFolder(FileChooserKind::Modulator));
    for (const auto& [controlId, path] : { std::pair { id::carrierPath, paths.carrier },
             std::pair { id::modulatorPath, paths.modulator },
             std::pair { id::outputPath, paths.output } }) {
        if (!path.isEmpty() && pathEdit(controlId)->text() != path)
            pathEdit(controlId)->setText(path);
    }

    // An empty box is refused without a box; the status line says which one to fill. A built-in
    // sound needs no carrier file.
    // The whole path, in the file system's encoding: a cut path would name another file.
    const auto encoded = [](const QString& path) { return QFile::encodeName(path).toStdString(); };
    std::string carrier = encoded(paths.carrier);
    if (carrierIsFile && carrier.empty())
        return showStatus(emptyBoxHint(id::carrierPath));
    std::string modulator = encoded(paths.modulator);
    if (modulator.empty())
        return showStatus(emptyBoxHint(id::modulatorPath));
    std::string output = encoded(paths.output);
    if (mode == JobMode::Vocode) {
        if (output.empty())
            return showStatus(emptyBoxHint(id::outputPath));
        // A typed name gets the question the output chooser asks before replacing a file.
        if (!mayWriteOutput(paths))
            return;
    }

    job::JobSettings settings;
    settings.mode = mode;
    settings.carrierPath = std::move(carrier);
    settings.modulatorPath = std::move(modulator);
    settings.outputPath = std::move(output);
    settings.sound = soundSettings();
    settings.carrier = carrierSound;
    settings.vectors = vectors;
    settings.bands = bandChoice();
    if (settings.bands.kind != engine::LayoutKind::Custom) {
        settings.bands.count = engine::classicBandCount;
        settings.bands.range.reset();
    }
    runBands = settings.bands;
    settings.repeatCarrier = repeatCarrier();
    if (static_cast<const QCheckBox*>(control(id::normalize))->isChecked())
        settings.normalizeDecibels = job::defaultNormalizeDecibels;
    const QString outputPath = QFile::decodeName(QByteArray::fromStdString(settings.outputPath));
    state.stopRequested = false;
    state.closeRequested = false;

    // Levels published before this start belong to an earlier run.
    const std::uint64_t earlierLevels = state.bandLevels.publishedCount();
    switch (jobStarter(std::move(settings))) {
    case StartResult::Started:
        // Nothing of an earlier run stays on show once this one has started.
        progressWanted = 0;
        showProgress(meterClock());
        showStatus(mode == JobMode::Vocode ? vocodingStatus(0) : previewingStatus(0.0));
        runMode = mode;
        if (mode == JobMode::Vocode) {
            runOutputPath = outputPath;
            agreedOutput = outputPath; // the next run may replace what this one writes
        }
        feedStart = earlierLevels;
        meterTimer.start();
        break;
    case StartResult::AlreadyActive: // a job is being set up: this command is ignored
        break;
    case StartResult::ThreadFailed:
        showError(QString::fromUtf8(threadFailedMessage));
        break;
    }
}

namespace {

    QString levelText(float peak)
    {
        if (!(peak > 0.0F))
            return QStringLiteral("−∞ dBFS");
        return QStringLiteral("%1 dBFS").arg(
            20.0 * std::log10(static_cast<double>(peak)), 0, 'f', 1);
    }

    QString millisecondsText(double seconds)
    {
        return QStringLiteral("%1 ms").arg(seconds * 1000.0, 0, 'f', 1);
    }

} // namespace

void MainWindow::setLiveAudioOpener(job::OpenLiveAudio opener)
{
    if (liveRunning())
        return;
    LiveRunner::Callbacks callbacks;
    callbacks.started = [this](const job::LiveStart& start) {
        liveRate = start.sampleRate;
        showStatus(
            QStringLiteral("Live on %1. The bands delay a voice by %2 at 300 Hz and %3 at "
                           "1 kHz.")
                .arg(QString::fromStdString(start.audio), millisecondsText(start.lowDelay.seconds),
                    millisecondsText(start.highDelay.seconds)));
    };
    callbacks.status = [this](const job::LiveStatus& status) {
        showStatus(QStringLiteral("Live: input %1, output peak %2, %3 missed cycles")
                       .arg(levelText(status.meters.inputPeak), levelText(status.meters.outputPeak))
                       .arg(status.missedCycles));
    };
    callbacks.ended = [this](const job::LiveEnding& ending) { showLiveEnd(ending); };
    live = std::make_unique<LiveRunner>(this, std::move(callbacks), std::move(opener));
}

bool MainWindow::liveRunning() const { return live && live->running(); }

void MainWindow::startOrStopLive()
{
    if (liveRunning()) {
        live->stop();
        return;
    }
    if (state.jobBusy || state.jobActive)
        return;
    job::LiveSettings settings;
    settings.carrier = carrierChoice();
    const bool carrierIsFile = settings.carrier.kind == job::CarrierKind::File;
    const bool recording = static_cast<const QCheckBox*>(control(id::recordLive))->isChecked();
    // The boxes are read as a Vocode reads them: "~" expanded, relative paths resolved.
    const BoxPaths paths = resolvedBoxPaths(
        { carrierIsFile ? pathEdit(id::carrierPath)->text() : QString(), QString(),
            recording ? pathEdit(id::outputPath)->text() : QString() },
        QDir::homePath(), chooserFolder(FileChooserKind::Carrier),
        chooserFolder(FileChooserKind::Modulator));
    if (carrierIsFile) {
        settings.carrierPath = QFile::encodeName(paths.carrier).toStdString();
        if (settings.carrierPath.empty())
            return showStatus(emptyBoxHint(id::carrierPath));
        pathEdit(id::carrierPath)->setText(paths.carrier);
    }
    if (recording) {
        settings.recordPath = QFile::encodeName(paths.output).toStdString();
        if (settings.recordPath.empty())
            return showStatus(emptyBoxHint(id::outputPath));
        pathEdit(id::outputPath)->setText(paths.output);
        if (!mayWriteOutput(paths))
            return;
    }
    settings.sound = soundSettings();
    settings.bandLevels = &state.bandLevels;
    settings.bands = bandChoice();
    if (settings.bands.kind != engine::LayoutKind::Custom) {
        settings.bands.count = engine::classicBandCount;
        settings.bands.range.reset();
    }
    runBands = settings.bands;
    liveRecordPath = QFile::decodeName(QByteArray::fromStdString(settings.recordPath));
    // Levels published before this start belong to an earlier run.
    feedStart = state.bandLevels.publishedCount();
    liveRate = 0;
    if (!live->start(settings))
        return;
    showLiveTaken(true);
    showStatus(QStringLiteral("Starting live…"));
    meterTimer.start();
}

void MainWindow::showLiveTaken(bool taken)
{
    setButtonText(id::liveButton, taken ? QStringLiteral("Stop") : QStringLiteral("Live"));
    for (const int controlId : { id::vocodeButton, id::previewButton, id::recordLive })
        setControlEnabled(controlId, !taken);
    for (const int controlId : pathControls)
        setControlEnabled(controlId, !taken);
    enableCarrierControls(!taken);
}

void MainWindow::showLiveEnd(const job::LiveEnding& ending)
{
    showLiveTaken(false);
    if (!ending.message.empty()) {
        QString text = QString::fromStdString(ending.message);
        text[0] = text[0].toUpper();
        if (ending.outcome == job::LiveOutcome::DeviceLost && !liveRecordPath.isEmpty())
            text += QStringLiteral("; the recording keeps what was played");
        showStatus(text + QLatin1Char('.'), {}, true);
    } else if (!liveRecordPath.isEmpty()) {
        showStatus(
            QStringLiteral("Live stopped; %1 s recorded to %2")
                .arg(liveRate > 0 ? static_cast<double>(ending.framesRecorded) / liveRate : 0.0, 0,
                    'f', 1)
                .arg(liveRecordPath));
    } else {
        showStatus(QStringLiteral("Live stopped."));
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

job::SoundSettings MainWindow::soundSettings() const
{
    job::SoundSettings sound;
    sound.clearance = sliderPosition(id::clearanceSlider);
    sound.vagueness = sliderPosition(id::vaguenessSlider);
    sound.gain = sliderPosition(id::gainSlider);
    sound.clarity = sliderPosition(id::claritySlider);
    return sound;
}

job::CarrierChoice MainWindow::carrierChoice() const
{
    const auto* root = static_cast<const QComboBox*>(control(id::chordRoot));
    job::CarrierChoice choice;
    choice.kind = static_cast<job::CarrierKind>(
        std::max(0, static_cast<const QComboBox*>(control(id::carrierKind))->currentIndex()));
    if (const QVariant note = root->currentData(); note.isValid())
        choice.chordRoot = note.toInt();
    choice.chordType = static_cast<engine::ChordType>(
        std::max(0, static_cast<const QComboBox*>(control(id::chordType))->currentIndex()));
    choice.followSemitones = static_cast<const QSpinBox*>(control(id::followInterval))->value();
    return choice;
}

bool MainWindow::repeatCarrier() const
{
    return carrierChoice().kind == job::CarrierKind::File
        && static_cast<const QCheckBox*>(control(id::repeatCarrier))->isChecked();
}

void MainWindow::showRunStarted(JobMode mode)
{
    setProgress(0);
    for (const int controlId : pathControls)
        setControlEnabled(controlId, false);
    enableCarrierControls(false);
    if (mode == JobMode::Preview) {
        setButtonText(id::previewButton, QStringLiteral("Stop"));
        setControlEnabled(id::vocodeButton, false);
    } else {
        for (const int controlId : sliders)
            setControlEnabled(controlId, false);
        setButtonText(id::vocodeButton, QStringLiteral("Cancel"));
        setControlEnabled(id::previewButton, false);
    }
}

void MainWindow::showRunReleased(JobMode mode)
{
    if (mode == JobMode::Preview) {
        setButtonText(id::previewButton, QStringLiteral("Preview"));
        setControlEnabled(id::vocodeButton, true);
    } else {
        for (const int controlId : sliders)
            setControlEnabled(controlId, true);
        setButtonText(id::vocodeButton, QStringLiteral("Vocode"));
        setControlEnabled(id::previewButton, true);
    }
    for (const int controlId : pathControls)
        setControlEnabled(controlId, true);
    enableCarrierControls(true);
}

void MainWindow::setProgress(int percent)
{
    const int wanted = std::clamp(percent, 0, 100);
    // A run's last step says 100 whether it finished or was stopped: showRunEnd, which knows
    // which, puts the bar at the end or leaves it where the run stopped.
    if (wanted == 100 && state.jobActive)
        return;
    progressWanted = wanted;
    // Each repaint of the bar and the line costs the window's thread about a millisecond, taken
    // from the job's two threads on a two-core machine; while the meters tick, they carry it.
    if (!meterTimer.isActive())
        showProgress(meterClock());
}

void MainWindow::showProgress(std::chrono::steady_clock::time_point now)
{
    progressShown = progressWanted;
    progressShownAt = now;
    static_cast<QProgressBar*>(control(id::progressBar))->setValue(progressShown);
    if (state.jobBusy && runMode == JobMode::Vocode)
        showStatus(vocodingStatus(progressShown));
}

void MainWindow::showRunEnd(const job::RunReport& report)
{
    if (report.outcome == job::JobOutcome::Finished)
        progressWanted = 100;
    else if (report.outcome == job::JobOutcome::Stopped && report.secondsTotal > 0.0)
        progressWanted = std::clamp(
            static_cast<int>(std::floor(100.0 * report.secondsDone / report.secondsTotal)), 0, 100);
    if (progressShown != progressWanted)
        showProgress(meterClock());
    const StatusLine line = runEndStatus(report, runOutputPath);
    showStatus(line.text, line.toolTip, line.warning);
}

void MainWindow::advanceMeters()
{
    const auto now = meterClock();
    std::optional<job::BandLevelFeed::Entry> heard;
    // Once the job has gone, nothing more is heard: the bars fall to the floor.
    if (state.jobActive || liveRunning())
        heard = state.bandLevels.newestAudible(now, feedStart);
    if (heard) {
        meter->showLayout(runBands, heard->sampleRate);
        meter->model().update(std::span<const double>(heard->levels)
                                  .first(static_cast<std::size_t>(heard->levelCount)),
            now);
    } else {
        meter->model().update(std::nullopt, now);
    }
    if (state.previewRunning)
        showStatus(previewingStatus(heard ? heard->secondsDone : 0.0));
    if (progressShown != progressWanted
        && (!state.jobBusy || now - progressShownAt >= progressInterval))
        showProgress(now);
    meter->refreshBars();
    if (!state.jobActive && meter->model().atFloor())
        meterTimer.stop();
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
    // The line says it too, with its cause, already while the box waits for its answer.
    showStatus(failureStatus(message, detail));
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
    quit();
}

// Every way out of the program keeps the window's size for the next start.
void MainWindow::quit()
{
    rememberWindowSize(size());
    quitHandler(0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A live run ends with the window; its recording is finished before the program ends.
    if (liveRunning())
        live->stop();
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
    quit();
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
    quit();
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
