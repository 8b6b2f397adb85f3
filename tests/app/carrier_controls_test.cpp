#include "app_test_support.h"
#include "carrier_controls.h"
#include "control_ids.h"
#include "main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using job::CarrierKind;
    using job::JobMode;

    // The window's settings file is shared by the tests of one run: each test leaves the carrier
    // choice as a fresh installation has it.
    class CarrierControls : public testing::Test {
    protected:
        CarrierControls()
        {
            rememberCarrierChoice({});
            window = std::make_unique<MainWindow>();
            window->setJobStarter([this](job::JobSettings settings) {
                started.push_back(std::move(settings));
                return job::JobThread::StartResult::Started;
            });
        }
        ~CarrierControls() override
        {
            window.reset();
            rememberCarrierChoice({});
        }

        QComboBox* dropDown(int controlId) const
        {
            return static_cast<QComboBox*>(window->control(controlId));
        }
        QSpinBox* interval() const
        {
            return static_cast<QSpinBox*>(window->control(id::followInterval));
        }
        void choose(CarrierKind kind) const
        {
            dropDown(id::carrierKind)->setCurrentIndex(static_cast<int>(kind));
        }

        std::unique_ptr<MainWindow> window;
        std::vector<job::JobSettings> started;
    };

    TEST_F(CarrierControls, OfferTheFourSoundsTheRootsFromC2ToC4AndTheIntervalRange)
    {
        const QComboBox* kind = dropDown(id::carrierKind);
        const QComboBox* root = dropDown(id::chordRoot);
        ASSERT_EQ(kind->count(), 4);
        ASSERT_EQ(root->count(), 25);
        EXPECT_EQ(
            kind->itemText(3) + root->itemText(0) + root->itemText(24), "Follow the voiceC2C4");
        EXPECT_EQ(
            kind->currentText() + root->currentText() + dropDown(id::chordType)->currentText(),
            "FileC3Major");
        EXPECT_EQ(std::pair(interval()->minimum(), interval()->maximum()), std::pair(-12, 12));
    }

    // Which of the carrier's controls are enabled for each sound, idle, during each kind of run
    // and after it.
    TEST_F(CarrierControls, EachSoundEnablesOnlyItsOwnControlsAndARunDisablesThemAll)
    {
        struct Case {
            CarrierKind kind;
            bool file, chord, interval;
        };
        const Case cases[] = {
            { CarrierKind::File, true, false, false },
            { CarrierKind::Chord, false, true, false },
            { CarrierKind::Noise, false, false, false },
            { CarrierKind::FollowVoice, false, false, true },
        };
        const auto expectEnabled = [&](const Case& sound, bool idle) {
            const std::pair<int, bool> wanted[] = { { id::carrierKind, idle },
                { id::carrierPath, idle && sound.file }, { id::carrierBrowse, idle && sound.file },
                { id::repeatCarrier, idle && sound.file }, { id::chordRoot, idle && sound.chord },
                { id::chordType, idle && sound.chord },
                { id::followInterval, idle && sound.interval } };
            for (const auto& [controlId, enabled] : wanted)
                EXPECT_EQ(window->control(controlId)->isEnabled(), enabled) << controlId;
        };
        for (const Case& sound : cases) {
            SCOPED_TRACE(static_cast<int>(sound.kind));
            choose(sound.kind);
            expectEnabled(sound, true);
            for (const JobMode mode : { JobMode::Vocode, JobMode::Preview }) {
                window->showRunStarted(mode);
                expectEnabled(sound, false);
                // Clarity is a slider like the others: a Vocode takes it, a Preview lets it move.
                EXPECT_EQ(
                    window->control(id::claritySlider)->isEnabled(), mode == JobMode::Preview);
                window->showRunReleased(mode);
                expectEnabled(sound, true);
                EXPECT_TRUE(window->control(id::claritySlider)->isEnabled());
            }
        }
    }

    // What a click on Vocode hands the job for each choice; a built-in sound needs no carrier
    // file, and repeating belongs to a file alone.
    TEST_F(CarrierControls, TheJobGetsTheChosenSoundItsSettingsAndNoCarrierPathForABuiltInOne)
    {
        struct Case {
            CarrierKind kind;
            const char* carrierPath;
            int rootIndex, typeIndex, semitones;
            bool repeatTicked;
            bool starts;
            job::CarrierChoice wanted;
            const char* wantedPath;
            bool wantedRepeat;
        };
        const Case cases[] = {
            { CarrierKind::File, "/c.wav", 12, 0, 0, true, true,
                { CarrierKind::File, 48, engine::ChordType::Major, 0 }, "/c.wav", true },
            { CarrierKind::File, "", 12, 0, 0, false, false, {}, "", false },
            { CarrierKind::Chord, "", 3, 1, 5, true, true,
                { CarrierKind::Chord, 39, engine::ChordType::Minor, 5 }, "", false },
            { CarrierKind::Chord, "/ignored.wav", 24, 3, 0, false, true,
                { CarrierKind::Chord, 60, engine::ChordType::Octave, 0 }, "", false },
            { CarrierKind::Noise, "", 0, 2, -3, true, true,
                { CarrierKind::Noise, 36, engine::ChordType::Fifth, -3 }, "", false },
            { CarrierKind::FollowVoice, "", 12, 0, -12, false, true,
                { CarrierKind::FollowVoice, 48, engine::ChordType::Major, -12 }, "", false },
        };
        for (const Case& sound : cases) {
            SCOPED_TRACE(testing::Message()
                << static_cast<int>(sound.kind) << " '" << sound.carrierPath << "'");
            started.clear();
            static_cast<QLineEdit*>(window->control(id::carrierPath))->setText(sound.carrierPath);
            static_cast<QLineEdit*>(window->control(id::modulatorPath))->setText("/m.wav");
            static_cast<QLineEdit*>(window->control(id::outputPath))->setText("/o.wav");
            dropDown(id::chordRoot)->setCurrentIndex(sound.rootIndex);
            dropDown(id::chordType)->setCurrentIndex(sound.typeIndex);
            interval()->setValue(sound.semitones);
            choose(CarrierKind::File); // a box is ticked while it can be, then the sound chosen
            static_cast<QCheckBox*>(window->control(id::repeatCarrier))
                ->setChecked(sound.repeatTicked);
            choose(sound.kind);
            window->runCommand(id::vocodeButton);
            ASSERT_EQ(started.size(), sound.starts ? 1U : 0U);
            if (!sound.starts) {
                EXPECT_EQ(window->statusLine()->text(), "Name a carrier file first.");
                continue;
            }
            const job::JobSettings& settings = started.front();
            EXPECT_EQ(settings.carrier.kind, sound.wanted.kind);
            EXPECT_EQ(settings.carrier.chordRoot, sound.wanted.chordRoot);
            EXPECT_EQ(settings.carrier.chordType, sound.wanted.chordType);
            EXPECT_EQ(settings.carrier.followSemitones, sound.wanted.followSemitones);
            EXPECT_EQ(settings.carrierPath, sound.wantedPath);
            EXPECT_EQ(settings.modulatorPath, "/m.wav");
            EXPECT_EQ(settings.repeatCarrier, sound.wantedRepeat);
        }
    }

    TEST_F(CarrierControls, TheChoiceIsKeptForTheNextStartAndBadSettingsReadAsDefaults)
    {
        choose(CarrierKind::Chord);
        dropDown(id::chordRoot)->setCurrentIndex(2); // D2
        dropDown(id::chordType)->setCurrentIndex(2); // fifth
        interval()->setValue(-7);
        choose(CarrierKind::FollowVoice);
        window = std::make_unique<MainWindow>();
        EXPECT_EQ(dropDown(id::carrierKind)->currentText(), "Follow the voice");
        EXPECT_EQ(dropDown(id::chordRoot)->currentText(), "D2");
        EXPECT_EQ(dropDown(id::chordType)->currentText(), "Fifth");
        EXPECT_EQ(interval()->value(), -7);
        EXPECT_FALSE(window->control(id::carrierPath)->isEnabled());
        EXPECT_TRUE(window->control(id::followInterval)->isEnabled());
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_EQ(QApplication::focusWidget(), window->control(id::carrierKind));

        // Hand-edited or foreign values: each one out of range, or no number at all.
        const std::pair<const char*, QVariant> bad[]
            = { { "carrier/kind", 4 }, { "carrier/chordRoot", 61 },
                  { "carrier/chordType", "sharp" }, { "carrier/followSemitones", -13 } };
        for (const auto& [key, value] : bad)
            QSettings(QStringLiteral("Lumivox"), QStringLiteral("lumivox")).setValue(key, value);
        const job::CarrierChoice read = rememberedCarrierChoice();
        const job::CarrierChoice defaults;
        EXPECT_EQ(read.kind, defaults.kind);
        EXPECT_EQ(read.chordRoot, defaults.chordRoot);
        EXPECT_EQ(read.chordType, defaults.chordType);
        EXPECT_EQ(read.followSemitones, defaults.followSemitones);
    }

} // namespace
} // namespace lumivox::app
