#include "app_test_support.h"
#include "band_meter.h"
#include "control_ids.h"
#include "dialog_layout.h"
#include "main_window.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <gtest/gtest.h>
#include <set>

// Run a second time with QT_SCALE_FACTOR=2 by ctest: the same claims then hold for the window
// that a 1400×1000 screen shows at twice the size.
namespace lumivox::app {
namespace {

    namespace id = app::control;

    TEST(DialogTemplate, KeepsTemplateOrderAndEveryControl)
    {
        const int order[] = { id::notice, id::carrierLabel, id::carrierKind, id::carrierPath,
            id::carrierBrowse, id::repeatCarrier, id::carrierSoundLabel, id::chordRoot,
            id::chordType, id::followInterval, id::bandsLabel, id::bandsKind, id::bandCount,
            id::bandLowHz, id::bandHighHz, id::modulatorLabel, id::modulatorPath,
            id::modulatorBrowse, id::outputLabel, id::outputPath, id::outputBrowse,
            id::clearanceLabel, id::clearanceSlider, id::vaguenessLabel, id::vaguenessSlider,
            id::gainLabel, id::gainSlider, id::normalize, id::clarityLabel, id::claritySlider,
            id::vocodeButton, id::previewButton, id::liveButton, id::recordLive, id::aboutButton,
            id::progressBar };
        ASSERT_EQ(dialogTemplate().size(), std::size(order));
        for (std::size_t i = 0; i < std::size(order); ++i)
            EXPECT_EQ(dialogTemplate()[i].id, order[i]);
    }

    TEST(DialogTemplate, GridPlacesEveryControlOnce)
    {
        std::multiset<int> placed { id::notice, id::progressBar };
        for (const GridRow& row : gridRows()) {
            for (const int controlId : row.middleIds)
                placed.insert(controlId);
            placed.insert(row.labelId);
            placed.insert(row.rightId);
        }
        placed.erase(noControl);
        for (const ControlTemplate& control : dialogTemplate())
            EXPECT_EQ(placed.count(control.id), 1U) << control.id;
        EXPECT_EQ(placed.size(), dialogTemplate().size());
    }

    // Where the window puts things, in the window's coordinates.
    struct Places {
        explicit Places(const MainWindow& window_)
            : window(window_)
        {
        }
        QRect of(int controlId) const { return placeOf(window.control(controlId)); }
        QRect readout(int sliderId) const { return placeOf(window.sliderReadout(sliderId)); }
        QRect placeOf(const QWidget* widget) const
        {
            return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        }
        const MainWindow& window;
    };

    struct FontAndSize {
        const char* family; // null: the desktop's own font
        int pointSize;
        QSize extra; // added to the least size; (-1, -1) for 1300×900
    };

    class WindowGeometry : public testing::TestWithParam<FontAndSize> {
    protected:
        void SetUp() override
        {
            savedFont = QApplication::font();
            if (GetParam().family != nullptr) {
                QFont font(GetParam().family);
                font.setPointSize(GetParam().pointSize);
                QApplication::setFont(font);
            }
        }
        void TearDown() override { QApplication::setFont(savedFont); }
        QFont savedFont;
    };

    TEST_P(WindowGeometry, EveryControlIsInsideAlignedAndStretched)
    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.resize(10, 10); // refused below the least size
        QApplication::processEvents();
        const QSize least = window.minimumSize();
        EXPECT_EQ(window.size(), least);
        if (GetParam().family == nullptr) {
            // Half of a 1400×1000 screen, so that twice the size still fits it whole.
            EXPECT_LE(least.width(), 700) << "scale " << window.devicePixelRatioF();
            EXPECT_LE(least.height(), 500) << "scale " << window.devicePixelRatioF();
        }
        const Places at(window);
        const auto rowsOf = [&] {
            std::vector<QRect> places;
            for (const GridRow& row : gridRows())
                places.push_back(at.of(row.middleIds.front()));
            return places;
        };
        // Each row's path box or slider, which takes the spare width; noControl for a row of
        // controls that keep their own widths.
        const auto wideOf = [](const GridRow& row) {
            for (const int controlId : row.middleIds) {
                for (const ControlTemplate& control : dialogTemplate()) {
                    if (control.id == controlId
                        && (control.role == ControlRole::PathEdit
                            || control.role == ControlRole::Slider))
                        return controlId;
                }
            }
            return noControl;
        };
        std::vector<QRect> leastWide;
        for (const GridRow& row : gridRows())
            leastWide.push_back(wideOf(row) == noControl ? QRect() : at.of(wideOf(row)));
        const std::vector<QRect> leastRows = rowsOf();
        const QRect leastMeter = at.placeOf(window.bandMeter());
        const QRect leastBrowse = at.of(id::carrierBrowse);

        const QSize size
            = GetParam().extra == QSize(-1, -1) ? QSize(1300, 900) : least + GetParam().extra;
        window.resize(size);
        QApplication::processEvents();
        ASSERT_EQ(window.size(), size);
        const QSize extra = size - least;

        const QRect inside = window.rect();
        for (const ControlTemplate& control : dialogTemplate()) {
            EXPECT_TRUE(inside.contains(at.of(control.id))) << control.id;
            EXPECT_TRUE(window.control(control.id)->isVisible()) << control.id;
        }
        EXPECT_TRUE(inside.contains(at.placeOf(window.bandMeter())));

        // One left margin; one right edge for the buttons, the readouts and the wide rows.
        const int left = at.of(id::carrierLabel).left();
        const int right = at.of(id::carrierBrowse).right();
        for (const int controlId : { id::modulatorLabel, id::outputLabel, id::clearanceLabel,
                 id::vaguenessLabel, id::gainLabel, id::clarityLabel, id::carrierSoundLabel,
                 id::progressBar, id::notice })
            EXPECT_EQ(at.of(controlId).left(), left) << controlId;
        EXPECT_EQ(at.placeOf(window.bandMeter()).left(), left);
        for (const int controlId :
            { id::modulatorBrowse, id::outputBrowse, id::aboutButton, id::progressBar, id::notice })
            EXPECT_EQ(at.of(controlId).right(), right) << controlId;
        for (const int sliderId :
            { id::clearanceSlider, id::vaguenessSlider, id::gainSlider, id::claritySlider }) {
            EXPECT_EQ(at.readout(sliderId).right(), right) << sliderId;
            EXPECT_LT(at.of(sliderId).right(), at.readout(sliderId).left()) << sliderId;
        }
        EXPECT_EQ(at.placeOf(window.bandMeter()).right(), right);
        // The boxes and sliders start on one line, right of the longest label.
        const int middle = at.of(id::carrierKind).left();
        for (const int controlId : { id::repeatCarrier, id::chordRoot, id::modulatorPath,
                 id::outputPath, id::clearanceSlider, id::vaguenessSlider, id::gainSlider,
                 id::claritySlider, id::vocodeButton })
            EXPECT_EQ(at.of(controlId).left(), middle) << controlId;
        for (const int labelId :
            { id::carrierLabel, id::carrierSoundLabel, id::clearanceLabel, id::gainLabel }) {
            const auto* label = static_cast<const QLabel*>(window.control(labelId));
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
            EXPECT_LT(at.of(labelId).right(), middle) << labelId;
        }
        EXPECT_LT(at.of(id::vocodeButton).right(), at.of(id::previewButton).left());
        EXPECT_LT(at.of(id::previewButton).right(), at.of(id::aboutButton).left());
        EXPECT_LT(at.of(id::carrierKind).right(), at.of(id::carrierPath).left());
        EXPECT_LT(at.of(id::chordRoot).right(), at.of(id::chordType).left());
        EXPECT_LT(at.of(id::chordType).right(), at.of(id::followInterval).left());

        // The rows stand evenly apart, each label centred on what it names (controls of other
        // heights in one row may round their centres half a pixel apart).
        const std::vector<QRect> rows = rowsOf();
        const auto middleY = [](const QRect& place) { return place.top() + place.height() / 2.0; };
        for (std::size_t row = 2; row < rows.size(); ++row)
            EXPECT_NEAR(
                middleY(rows[row]) - middleY(rows[row - 1]), middleY(rows[1]) - middleY(rows[0]), 1)
                << "row " << row;
        for (const GridRow& row : gridRows()) {
            if (row.labelId != noControl) {
                EXPECT_NEAR(
                    at.of(row.labelId).center().y(), at.of(row.middleIds.front()).center().y(), 1)
                    << row.labelId;
            }
        }

        // The extra width goes to the boxes and sliders, the extra height to the meters alone.
        for (std::size_t row = 0; row < rows.size(); ++row) {
            EXPECT_EQ(rows[row].top(), leastRows[row].top()) << "row " << row;
            if (const int wide = wideOf(gridRows()[row]); wide != noControl)
                EXPECT_EQ(at.of(wide).width(), leastWide[row].width() + extra.width()) << wide;
            else
                EXPECT_EQ(rows[row].width(), leastRows[row].width()) << "row " << row;
        }
        EXPECT_EQ(at.of(id::carrierBrowse).size(), leastBrowse.size());
        EXPECT_EQ(at.placeOf(window.bandMeter()).size(), leastMeter.size() + extra);
    }

    INSTANTIATE_TEST_SUITE_P(Fonts, WindowGeometry,
        testing::Values(FontAndSize { nullptr, 0, QSize(0, 0) },
            FontAndSize { nullptr, 0, QSize(300, 200) }, FontAndSize { nullptr, 0, QSize(-1, -1) },
            FontAndSize { "DejaVu Sans", 14, QSize(250, 150) },
            FontAndSize { "DejaVu Serif", 8, QSize(50, 400) }));

} // namespace
} // namespace lumivox::app
