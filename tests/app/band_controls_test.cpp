#include "app_test_support.h"
#include "band_controls.h"
#include "band_meter.h"
#include "control_ids.h"
#include "main_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using engine::LayoutKind;

    // Each test leaves the band choice as a fresh installation has it.
    class BandControls : public testing::Test {
    protected:
        BandControls()
        {
            QSettings(QStringLiteral("Lumivox"), QStringLiteral("lumivox")).remove("bands");
            window = std::make_unique<MainWindow>();
            window->setJobStarter([this](job::JobSettings settings) {
                started.push_back(std::move(settings));
                return job::JobThread::StartResult::Started;
            });
        }
        ~BandControls() override
        {
            window.reset();
            QSettings(QStringLiteral("Lumivox"), QStringLiteral("lumivox")).remove("bands");
        }

        QComboBox* kind() const { return static_cast<QComboBox*>(window->control(id::bandsKind)); }
        QSpinBox* box(int controlId) const
        {
            return static_cast<QSpinBox*>(window->control(controlId));
        }
        job::JobSettings vocode()
        {
            started.clear();
            static_cast<QLineEdit*>(window->control(id::carrierPath))->setText("/c.wav");
            static_cast<QLineEdit*>(window->control(id::modulatorPath))->setText("/m.wav");
            static_cast<QLineEdit*>(window->control(id::outputPath))->setText("/o.wav");
            window->runCommand(id::vocodeButton);
            if (started.size() != 1)
                throw std::runtime_error("the job did not start");
            return started.front();
        }

        std::unique_ptr<MainWindow> window;
        std::vector<job::JobSettings> started;
    };

} // namespace

// The three choices, classic first; Custom alone uses the count and range, and a run takes all.
TEST_F(BandControls, OfferThreeLayoutsAndEnableTheCountAndRangeForCustomAlone)
{
    ASSERT_EQ(kind()->count(), 3);
    EXPECT_EQ(
        kind()->itemText(0) + kind()->itemText(1) + kind()->itemText(2), "Classic 32SpeechCustom");
    EXPECT_EQ(kind()->currentIndex(), 0);
    EXPECT_EQ(
        std::pair(box(id::bandCount)->minimum(), box(id::bandCount)->maximum()), std::pair(4, 64));
    EXPECT_FALSE(kind()->toolTip().isEmpty());
    for (const int layout : { 0, 1, 2 }) {
        kind()->setCurrentIndex(layout);
        for (const int controlId : { id::bandCount, id::bandLowHz, id::bandHighHz })
            EXPECT_EQ(window->control(controlId)->isEnabled(), layout == 2) << layout;
        window->showRunStarted(job::JobMode::Vocode);
        EXPECT_FALSE(kind()->isEnabled());
        EXPECT_FALSE(window->control(id::bandCount)->isEnabled());
        window->showRunReleased(job::JobMode::Vocode);
        EXPECT_TRUE(kind()->isEnabled());
    }
}

// What the job is handed for each choice, and that a new window starts with the last choice.
TEST_F(BandControls, TheJobGetsTheChosenBandsAndTheChoiceIsKeptForTheNextStart)
{
    EXPECT_EQ(engine::layoutChoiceText(vocode().bands), "classic");
    kind()->setCurrentIndex(1);
    EXPECT_EQ(engine::layoutChoiceText(vocode().bands), "speech");
    kind()->setCurrentIndex(2);
    box(id::bandCount)->setValue(24);
    box(id::bandLowHz)->setValue(100);
    box(id::bandHighHz)->setValue(8000);
    EXPECT_EQ(engine::layoutChoiceText(vocode().bands), "24:100:8000");

    window = std::make_unique<MainWindow>();
    EXPECT_EQ(kind()->currentText(), "Custom");
    EXPECT_EQ(box(id::bandCount)->value(), 24);
    EXPECT_EQ(box(id::bandLowHz)->value(), 100);
    EXPECT_EQ(box(id::bandHighHz)->value(), 8000);
    EXPECT_TRUE(window->control(id::bandCount)->isEnabled());

    // A kept Custom count survives a while on Speech.
    kind()->setCurrentIndex(1);
    window = std::make_unique<MainWindow>();
    EXPECT_EQ(kind()->currentText(), "Speech");
    EXPECT_EQ(box(id::bandCount)->value(), 24);

    // Hand-edited or foreign values read as the defaults.
    QSettings stored(QStringLiteral("Lumivox"), QStringLiteral("lumivox"));
    stored.setValue("bands/kind", 3);
    stored.setValue("bands/count", 65);
    stored.sync();
    const engine::LayoutChoice read = rememberedLayoutChoice();
    EXPECT_EQ(read.kind, LayoutKind::Classic);
    EXPECT_EQ(read.count, 32);
}

// The meters show one bar a band of the run's layout, and their labels follow its centres.
TEST_F(BandControls, TheMetersShowOneBarABandOfTheRunsLayout)
{
    BandMeter& meter = *window->bandMeter();
    EXPECT_EQ(meter.model().barCount(), 32);
    meter.showLayout({ LayoutKind::Speech, 32, std::nullopt }, 48000.0);
    EXPECT_EQ(meter.model().barCount(), engine::speechBandCount);
    // 1 kHz lies in the speech layout's sixth band (862 to 1060 Hz): between bars 5 and 6.
    const auto marks = frequencyMarks(meter.layout(), 48000.0);
    ASSERT_EQ(marks.size(), 1U); // 100 Hz lies below the lowest centre, 10 kHz past the top
    EXPECT_EQ(marks[0].hertz, 1000.0);
    EXPECT_GT(marks[0].bandPosition, 5.0);
    EXPECT_LT(marks[0].bandPosition, 6.0);
    meter.showLayout({ LayoutKind::Custom, 48, engine::BandRange { 100.0, 8000.0 } }, 48000.0);
    EXPECT_EQ(meter.model().barCount(), 48);
    EXPECT_LT(meter.barRect(47).right(), meter.width());
    meter.showLayout({}, 44100.0);
    EXPECT_EQ(meter.model().barCount(), 32);
}

} // namespace lumivox::app
