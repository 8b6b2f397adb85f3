#include "layout_choice.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <iomanip>
#include <sstream>

namespace lumivox::engine {

std::optional<BandLayout> BandLayout::withEdges(std::vector<BandEdges> edges, double sampleRate)
{
    const int count = static_cast<int>(edges.size());
    // Written so that a value that is not a number fails every test.
    if (!(count >= fewestBands && count <= mostBands) || !(sampleRate > 0.0)
        || !(edges.front().lowHz >= lowestHz)
        || !(edges.back().highHz <= highestShareOfRate * sampleRate))
        return std::nullopt;
    for (std::size_t band = 0; band < edges.size(); ++band) {
        if (!(edges[band].lowHz < edges[band].highHz)
            || (band > 0 && !(edges[band - 1].highHz <= edges[band].lowHz)))
            return std::nullopt;
    }
    BandLayout layout;
    layout.rate = sampleRate;
    for (const BandEdges& e : edges) {
        const BandRow row = designBandPass(e, sampleRate);
        layout.rows.insert(layout.rows.end(), row.begin(), row.end());
    }
    layout.bandEdges = std::move(edges);
    layout.envelope = designEnvelopeLowPass(envelopeCutoffHz, sampleRate);
    layout.finish();
    return layout;
}

double highestBandHz(double sampleRate) { return BandLayout::highestShareOfRate * sampleRate; }

std::optional<BandLayout> kneeSpacedLayout(
    int count, BandRange range, double kneeHz, double passShare, double sampleRate)
{
    if (!(count >= BandLayout::fewestBands && count <= BandLayout::mostBands) || !(kneeHz > 0.0)
        || !(passShare > 0.0 && passShare < 1.0) || !(range.lowHz < range.highHz))
        return std::nullopt;
    const auto u = [kneeHz](double hertz) { return std::log1p(hertz / kneeHz); };
    const auto hertzAt = [kneeHz](double value) { return kneeHz * std::expm1(value); };
    const double spacing = (u(range.highHz) - u(range.lowHz)) / (count - 1 + passShare);
    std::vector<BandEdges> edges;
    for (int band = 0; band < count; ++band) {
        const double start = u(range.lowHz) + band * spacing;
        edges.push_back({ band == 0 ? range.lowHz : hertzAt(start),
            band == count - 1 ? range.highHz : hertzAt(start + passShare * spacing) });
    }
    return BandLayout::withEdges(std::move(edges), sampleRate);
}

std::optional<DesignedBands> designBands(const LayoutChoice& choice, double sampleRate)
{
    const double top = highestBandHz(sampleRate);
    switch (choice.kind) {
    case LayoutKind::Classic:
        return DesignedBands { BandLayout::classic(), 1.0 };
    case LayoutKind::Speech: {
        auto bands = kneeSpacedLayout(speechBandCount,
            { speechRange.lowHz, std::min(speechRange.highHz, top) }, speechKneeHz, speechPassShare,
            sampleRate);
        if (!bands)
            return std::nullopt;
        return DesignedBands { std::move(*bands), speechLevelGain };
    }
    case LayoutKind::Custom:
        break;
    }
    const BandRange range = choice.range.value_or(
        BandRange { classicRange.lowHz, std::min(classicRange.highHz, top) });
    auto bands = BandLayout::logSpaced(choice.count, range.lowHz, range.highHz, sampleRate);
    if (!bands)
        return std::nullopt;
    return DesignedBands { std::move(*bands), 1.0 };
}

namespace {

    std::string hertzText(double hertz)
    {
        std::ostringstream out;
        out << std::setprecision(10) << hertz;
        return out.str();
    }

    std::optional<double> parseHertz(std::string_view text)
    {
        double value = 0.0;
        const auto* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
            return std::nullopt;
        return value;
    }

} // namespace

std::string layoutChoiceText(const LayoutChoice& choice)
{
    switch (choice.kind) {
    case LayoutKind::Classic:
        return "classic";
    case LayoutKind::Speech:
        return "speech";
    case LayoutKind::Custom:
        break;
    }
    std::string text = std::to_string(choice.count);
    if (choice.range)
        text += ':' + hertzText(choice.range->lowHz) + ':' + hertzText(choice.range->highHz);
    return text;
}

std::optional<LayoutChoice> parseLayoutChoiceText(std::string_view text)
{
    LayoutChoice choice;
    if (text == "classic")
        return choice;
    if (text == "speech") {
        choice.kind = LayoutKind::Speech;
        return choice;
    }
    const auto colon = text.find(':');
    const std::string_view countText = text.substr(0, colon);
    int count = 0;
    const auto* end = countText.data() + countText.size();
    const auto [stop, error] = std::from_chars(countText.data(), end, count);
    if (countText.empty() || error != std::errc() || stop != end || count < BandLayout::fewestBands
        || count > BandLayout::mostBands)
        return std::nullopt;
    choice.kind = LayoutKind::Custom;
    choice.count = count;
    if (colon != std::string_view::npos) {
        const std::string_view rest = text.substr(colon + 1);
        const auto second = rest.find(':');
        if (second == std::string_view::npos)
            return std::nullopt;
        const auto low = parseHertz(rest.substr(0, second));
        const auto high = parseHertz(rest.substr(second + 1));
        if (!low || !high || !(*low >= BandLayout::lowestHz) || !(*low < *high))
            return std::nullopt;
        choice.range = BandRange { *low, *high };
    }
    return choice;
}

} // namespace lumivox::engine
