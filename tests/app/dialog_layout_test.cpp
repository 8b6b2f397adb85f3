#include "control_ids.h"
#include "dialog_layout.h"

#include <QFont>
#include <QFontMetrics>
#include <gtest/gtest.h>
#include <map>

namespace lumivox::app {
namespace {

    namespace id = app::control;

    ControlTemplate templateOf(int controlId)
    {
        for (const ControlTemplate& control : dialogTemplate())
            if (control.id == controlId)
                return control;
        ADD_FAILURE() << "no control " << controlId;
        return {};
    }

    TEST(DialogUnits, ConvertAQuarterCharacterAcrossAndAnEighthDown)
    {
        const DialogUnits units { 6, 13 };
        EXPECT_EQ(toPixels(units, 0, 0, 417, 261), QRect(0, 0, 626, 424));
        EXPECT_EQ(toPixels(units, 83, 151, 103, 22), QRect(125, 245, 155, 36));
        EXPECT_EQ(toPixels(units, 4, 8, 8, 16), QRect(6, 13, 12, 26));
    }

    TEST(DialogUnits, FollowTheFontSize)
    {
        QFont small("DejaVu Sans");
        small.setPointSize(8);
        QFont large = small;
        large.setPointSize(16);
        const DialogUnits smallUnits = dialogUnitsOf(QFontMetrics(small));
        const DialogUnits largeUnits = dialogUnitsOf(QFontMetrics(large));
        EXPECT_GT(smallUnits.averageCharWidth, 2);
        EXPECT_GT(largeUnits.averageCharWidth, smallUnits.averageCharWidth);
        EXPECT_EQ(smallUnits.charHeight, QFontMetrics(small).height());
    }

    TEST(DialogLayout, KeepsTemplateOrderAndEveryControl)
    {
        const DialogLayout layout = layOutDialog(QFontMetrics(QFont()));
        const int order[] = { id::notice, id::carrierLabel, id::carrierPath, id::carrierBrowse,
            id::modulatorLabel, id::modulatorPath, id::modulatorBrowse, id::outputLabel,
            id::outputPath, id::outputBrowse, id::clearanceLabel, id::clearanceSlider,
            id::vaguenessLabel, id::vaguenessSlider, id::gainLabel, id::gainSlider,
            id::vocodeButton, id::previewButton, id::aboutButton, id::progressBar };
        ASSERT_EQ(layout.controls.size(), std::size(order));
        for (std::size_t i = 0; i < std::size(order); ++i)
            EXPECT_EQ(layout.controls[i].control.id, order[i]);
    }

    // No label is cut, no row loses its order or alignment, and nothing leaves the window, in the
    // fonts that Linux desktops commonly use.
    class DialogLayoutInFont : public testing::TestWithParam<std::pair<const char*, int>> { };

    TEST_P(DialogLayoutInFont, FitsEveryLabelWithoutOverlap)
    {
        QFont font(GetParam().first);
        font.setPointSize(GetParam().second);
        const QFontMetrics metrics(font);
        const DialogUnits units = dialogUnitsOf(metrics);
        const DialogLayout layout = layOutDialog(metrics);
        std::map<int, QRect> rect;
        for (const PlacedControl& placed : layout.controls) {
            rect[placed.control.id] = placed.rect;
            if (placed.control.role == ControlRole::Label) {
                EXPECT_GE(placed.rect.width(), metrics.horizontalAdvance(placed.control.text))
                    << placed.control.id;
            }
            EXPECT_LE(placed.rect.right(), layout.clientSize.width()) << placed.control.id;
            EXPECT_LE(placed.rect.bottom(), layout.clientSize.height()) << placed.control.id;
        }
        const std::pair<int, int> rows[] = { { id::carrierLabel, id::carrierPath },
            { id::carrierPath, id::carrierBrowse }, { id::modulatorLabel, id::modulatorPath },
            { id::modulatorPath, id::modulatorBrowse }, { id::outputLabel, id::outputPath },
            { id::outputPath, id::outputBrowse }, { id::clearanceLabel, id::clearanceSlider },
            { id::vaguenessLabel, id::vaguenessSlider }, { id::gainLabel, id::gainSlider },
            { id::vocodeButton, id::previewButton } };
        for (const auto& [left, right] : rows)
            EXPECT_LT(rect[left].right(), rect[right].left()) << left << " before " << right;

        // Columns keep the template's alignment: path boxes, sliders and the right edges.
        const int shift = rect[id::carrierPath].left() - toPixels(units, 79, 0, 0, 0).left();
        EXPECT_GE(shift, 0);
        for (int controlId : { id::modulatorPath, id::outputPath, id::clearanceSlider,
                 id::gainSlider, id::vocodeButton, id::aboutButton, id::carrierBrowse })
            EXPECT_EQ(rect[controlId].left(),
                toPixels(units, templateOf(controlId).x, 0, 0, 0).left() + shift)
                << controlId;
        EXPECT_EQ(rect[id::progressBar].left(), toPixels(units, 13, 0, 0, 0).left());
        // The progress bar and the Browse column end together, give or take the rounding of each.
        EXPECT_NEAR(rect[id::progressBar].right() - rect[id::carrierBrowse].right(),
            toPixels(units, 13 + 393, 0, 0, 0).left() - toPixels(units, 354 + 53, 0, 0, 0).left(),
            2);
    }

    INSTANTIATE_TEST_SUITE_P(CommonFonts, DialogLayoutInFont,
        testing::Values(std::pair { "DejaVu Sans", 8 }, std::pair { "DejaVu Sans", 10 },
            std::pair { "DejaVu Sans", 14 }, std::pair { "DejaVu Serif", 11 },
            std::pair { "Nimbus Sans", 10 }, std::pair { "Noto Sans", 10 },
            std::pair { "Liberation Sans", 10 }, std::pair { "Cantarell", 11 },
            std::pair { "Ubuntu", 11 }));

} // namespace
} // namespace lumivox::app
