#pragma once

#include <ostream>

namespace lumivox::cli {

// A one-line progress bar with a percentage, redrawn in place with a carriage return and only when
// the whole percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(std::ostream& terminal);

    void show(int percent); // clamped to 0..100
    // Ends the bar's line so that what follows starts on a line of its own; idle when nothing is
    // drawn or the line is already ended.
    void finish();

    [[nodiscard]] int shownPercent() const { return lastPercent; } // -1 before the first draw

private:
    std::ostream& terminal;
    int lastPercent = -1;
    bool lineOpen = false;
};

} // namespace lumivox::cli
