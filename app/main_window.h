#pragma once

#include "control_ids.h"
#include "file_choosers.h"
#include "job/job_state.h"
#include "job/job_thread.h"
#include "job/live_run.h"
#include "typed_path.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;

namespace lumivox::app {

class BandMeter;
class LiveRunner;
class WindowPort;

// The program's one window: the carrier's choice (a file or a built-in sound and its settings),
// three path boxes, four sliders, Vocode, Preview, About and a progress bar. It starts one
// background job at a time with the paths, the carrier and the slider positions as they stand,
// passes stop and close requests to it, and follows the job's events.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    using JobStarter = std::function<job::JobThread::StartResult(job::JobSettings)>;
    using QuitHandler = std::function<void(int exitCode)>;
    using MeterClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The control with a template id, or null for an id the window does not have.
    [[nodiscard]] QWidget* control(int controlId) const;
    [[nodiscard]] job::JobState& jobState() { return state; }
    [[nodiscard]] job::JobEvents& jobEvents();

    // Replaceable so that tests can answer choosers, fake a job start and see the program end.
    void setFileChooser(FileChooser chooser) { fileChooser = std::move(chooser); }
    void setJobStarter(JobStarter starter) { jobStarter = std::move(starter); }
    void setQuitHandler(QuitHandler handler) { quitHandler = std::move(handler); }
    void setMeterClock(MeterClock clock) { meterClock = std::move(clock); }
    // Where a live run plays; by default a JACK client, else PortAudio's default devices.
    void setLiveAudioOpener(job::OpenLiveAudio opener);
    // How the engine of every run is to run, as the program chose at its start.
    void setVectorChoice(engine::VectorChoice choice) { vectors = choice; }

    [[nodiscard]] QLabel* statusLine() const;
    [[nodiscard]] const QLabel* statusWarningIcon() const { return statusIcon; }
    [[nodiscard]] QLabel* sliderReadout(int sliderId) const; // null for other ids
    [[nodiscard]] BandMeter* bandMeter() const { return meter; }
    // One step of the meters (the timer's tick): the newest audible levels of the run, or a fall.
    void advanceMeters();

    // A command from a control, as a click sends it; ids without a command are ignored.
    void runCommand(int controlId);
    void chooseFile(FileChooserKind kind);
    void startOrStopJob(job::JobMode mode);
    // Live starts vocoding the microphone, or stops it; Record also writes what is played to the
    // output file.
    void startOrStopLive();
    [[nodiscard]] bool liveRunning() const;
    void showAbout();

    [[nodiscard]] int sliderPosition(int controlId) const;
    [[nodiscard]] job::SoundSettings soundSettings() const;
    [[nodiscard]] job::CarrierChoice carrierChoice() const;
    // The Bands row's choice; Custom with the count and range its boxes show.
    [[nodiscard]] engine::LayoutChoice bandChoice() const;
    // Repeating applies to a carrier file only; a built-in sound already lasts as long as the
    // voice.
    [[nodiscard]] bool repeatCarrier() const;

    // How the window follows a job's events; window thread only (WindowPort gets there).
    void showRunStarted(job::JobMode mode); // the controls a run takes over
    void showRunReleased(job::JobMode mode); // and hands back
    void setProgress(int percent);
    void setButtonText(int controlId, const QString& text);
    void setControlEnabled(int controlId, bool enabled);
    void showError(const QString& message, const QString& detail = {});
    [[nodiscard]] bool askQuestion(const QString& question);
    void endProgram();
    void showRunEnd(const job::RunReport& report);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();
    void createShortcuts();
    void fillCarrierControls();
    void carrierChoiceChanged(); // the choice is kept, and only its own controls are enabled
    void enableCarrierControls(bool enabled);
    void fillBandControls();
    void bandChoiceChanged(); // kept, with the count and range boxes enabled for Custom alone
    void stopFromKeyboard();
    void quit();
    void showStatus(const QString& text, const QString& toolTip = {}, bool warning = false);
    void checkPendingClose();
    [[nodiscard]] QLineEdit* pathEdit(int controlId) const;
    [[nodiscard]] static QString chooserFolder(FileChooserKind kind); // empty when none is kept
    // False when the output exists and the user declines to replace it.
    [[nodiscard]] bool mayWriteOutput(const BoxPaths& paths);
    void showProgress(std::chrono::steady_clock::time_point now);
    void showLiveTaken(bool taken); // the controls a live run takes over, or hands back
    void showLiveEnd(const job::LiveEnding& ending);

    std::array<QWidget*, control::count> controls {};
    std::vector<std::pair<int, QLabel*>> readouts;
    BandMeter* meter = nullptr;
    QLabel* statusIcon = nullptr; // the warning sign left of the status line
    FileChooser fileChooser;
    JobStarter jobStarter;
    QuitHandler quitHandler;
    MeterClock meterClock;
    QTimer meterTimer; // repaints the meters while a run goes and until they reach the floor
    // While the meters run, the progress bar and the status line follow the job's percentages
    // on the meters' ticks, a few times a second, rather than at each of them.
    int progressWanted = 0;
    int progressShown = 0;
    std::chrono::steady_clock::time_point progressShownAt;
    std::uint64_t feedStart = 0; // feed entries up to this number belong to earlier runs
    engine::LayoutChoice runBands; // the bands of the run the meters show
    job::JobMode runMode = job::JobMode::Vocode;
    QString runOutputPath;
    // The output the user agreed to replace (in the chooser or the question) or a run wrote to:
    // starting again to the same file asks nothing.
    QString agreedOutput;
    // Watches a close request made while no job was yet able to answer it.
    QTimer pendingClose;
    job::JobState state;
    engine::VectorChoice vectors;
    std::unique_ptr<WindowPort> port;
    std::unique_ptr<job::JobThread> jobThread; // gone before the port and the state
    QString liveRecordPath;
    std::uint32_t liveRate = 0; // of the running live run, once it has started
    std::unique_ptr<LiveRunner> live; // last: its audio publishes into the state's band levels
};

} // namespace lumivox::app
