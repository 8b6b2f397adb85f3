#pragma once

#include "band_meter_model.h"
#include "engine/layout_choice.h"

#include <QWidget>

namespace lumivox::app {

// The panel of band meters, one a band of the run's layout (the classic 32 at first), lowest left,
// with a peak mark over each bar and a few frequencies written under them.
class BandMeter : public QWidget {
public:
    explicit BandMeter(QWidget* parent = nullptr);

    [[nodiscard]] BandMeterModel& model() { return levels; }
    [[nodiscard]] const BandMeterModel& model() const { return levels; }
    // The files' rate, which places the frequency labels.
    void setSampleRate(double hertz);
    // The bars and labels of the run's bands at the files' rate; designed again only on a change.
    void showLayout(const engine::LayoutChoice& choice, double hertz);
    [[nodiscard]] const engine::BandLayout& layout() const { return bands; }

    // Repaints the bars alone: the frequency labels change only with the rate.
    void refreshBars();

    // Where bar `band` is drawn, in the widget's coordinates.
    [[nodiscard]] QRect barRect(int band) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    [[nodiscard]] QRect barArea() const;

    BandMeterModel levels;
    double sampleRate = 44100.0;
    engine::LayoutChoice shownChoice;
    engine::BandLayout bands = engine::BandLayout::classic();
};

} // namespace lumivox::app
