#include "progress_bar.h"

#include <algorithm>
#include <string>

namespace lumivox::cli {

namespace {
    constexpr int barWidth = 40;
}

ProgressBar::ProgressBar(std::ostream& terminalStream)
    : terminal(terminalStream)
{
}

void ProgressBar::show(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == lastPercent && lineOpen)
        return;
    lastPercent = percent;
    lineOpen = true;

    const int filled = percent * barWidth / 100;
    std::string line = "\r[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(barWidth - filled), '.');
    line += "] ";
    const std::string number = std::to_string(percent);
    line.append(3 - number.size(), ' ');
    line += number;
    line += '%';
    // One write per redraw, so that the line never shows half drawn.
    terminal << line << std::flush;
}

void ProgressBar::finish()
{
    if (!lineOpen)
        return;
    lineOpen = false;
    terminal << '\n' << std::flush;
}

} // namespace lumivox::cli
