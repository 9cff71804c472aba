#include "meter/LabelLayout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarvo::meter {

bool Box::Overlaps(const Box& o) const
{
    return left < o.Right() && o.left < Right() && top < o.Bottom() && o.top < Bottom();
}

bool Box::Holds(const Box& o) const
{
    return o.left >= left && o.Right() <= Right() && o.top >= top && o.Bottom() <= Bottom();
}

namespace {

// At most this many rows up and down a stagger tries: a plot thousands of
// labels tall is no plot.
constexpr int kMostRows = 200;
constexpr int kMostSteps = 400;  // places across the plot a row tries

Box Grown(const Box& b, double by) { return {b.left - by, b.top - by, b.width + 2 * by, b.height + 2 * by}; }

// The point of b nearest (x, y).
void Nearest(const Box& b, double x, double y, double& nx, double& ny)
{
    nx = std::clamp(x, b.left, b.Right());
    ny = std::clamp(y, b.top, b.Bottom());
}

double Distance(const Box& b, double x, double y)
{
    double nx = 0, ny = 0;
    Nearest(b, x, y, nx, ny);
    return std::hypot(nx - x, ny - y);
}

// Whether the segment from (x0, y0) to (x1, y1) passes through the inside
// of b (clipped to b's slabs; a segment along an edge does not).
bool Crosses(double x0, double y0, double x1, double y1, const Box& b)
{
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {x0 - b.left, b.Right() - x0, y0 - b.top, b.Bottom() - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] <= 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 >= t1)
            return false;
    }
    return t1 - t0 > 1e-9;
}

struct Leader {
    double x0, y0, x1, y1;
};

}  // namespace

LabelLayout LayOutLabels(const std::vector<LabelRequest>& labels, const Box& plot, double marker, double gap,
                         const std::vector<Box>& keepClear)
{
    marker = std::max(0.0, marker);
    gap = std::max(0.0, gap);
    const double d = marker + gap;
    std::vector<Box> markers;
    for (const LabelRequest& l : labels)
        markers.push_back({l.x - marker, l.y - marker, 2 * marker, 2 * marker});
    const auto inside = [&](const LabelRequest& l) {
        return std::isfinite(l.x) && std::isfinite(l.y) && l.x >= plot.left && l.x <= plot.Right() && l.y >= plot.top &&
               l.y <= plot.Bottom();
    };

    // One pass: the labels in `order`, each at the cheapest place left for
    // it; with `side` +1 (-1), only in rows above or below its point,
    // reaching right (left) from it.
    const auto attempt = [&](bool numbered, const std::vector<size_t>& order, int side, LabelLayout& out) {
        const bool rowsOnly = side != 0;
        out.numbered = numbered;
        out.places.assign(labels.size(), LabelPlace{});
        std::vector<Box> placed;
        std::vector<Leader> leaders;
        bool all = true;
        for (size_t i : order) {
            const LabelRequest& l = labels[i];
            LabelPlace& place = out.places[i];
            place.shown = false;
            const double w = numbered ? l.numberWidth : l.width, h = l.height;
            if (!inside(l) || !(w >= 0 && h >= 0) || !std::isfinite(w) || !std::isfinite(h))
                continue;
            const auto fits = [&](const Box& b, bool leader, double lx, double ly) {
                if (!plot.Holds(b))
                    return false;
                for (const Box& p : placed)
                    if (Grown(p, gap).Overlaps(b))
                        return false;
                for (const Box& m : markers)
                    if (Grown(m, gap).Overlaps(b))
                        return false;
                for (const Box& k : keepClear)
                    if (Grown(k, gap).Overlaps(b))
                        return false;
                for (const Leader& s : leaders)
                    if (Crosses(s.x0, s.y0, s.x1, s.y1, b))
                        return false;
                if (leader) {
                    for (const Box& p : placed)
                        if (Crosses(l.x, l.y, lx, ly, p))
                            return false;
                }
                return true;
            };
            // Centred, reaching right and reaching left of the point; pushed
            // within the plot's sides; and, for the rows further off, steps
            // across the plot, so that a crowd's labels can stand side by
            // side with their leaders between them.
            std::vector<double> lefts = {l.x - w / 2, l.x - d, l.x - w + d, plot.left, plot.Right() - w};
            const size_t near = lefts.size();
            const double across = std::max(4.0, h / 2);
            for (int k = 0; k < kMostSteps && plot.left + k * across <= plot.Right() - w; ++k)
                lefts.push_back(plot.left + k * across);
            // Above first (the habit), then beside, below, and rows further
            // up and down.
            std::vector<Box> candidates;
            for (size_t j = 0; j < near; ++j)
                candidates.push_back({lefts[j], l.y - d - h, w, h});
            if (!rowsOnly) {
                candidates.push_back({l.x + d, l.y - h / 2, w, h});
                candidates.push_back({l.x - d - w, l.y - h / 2, w, h});
            }
            const int rows = std::min(kMostRows, static_cast<int>(plot.height / std::max(1.0, h + gap)) + 1);
            for (int k = 0; k <= rows; ++k)
                for (double left : lefts) {
                    if (k > 0)
                        candidates.push_back({left, l.y - d - h - k * (h + gap), w, h});
                    candidates.push_back({left, l.y + d + k * (h + gap), w, h});
                }
            double best = INFINITY;
            for (const Box& b : candidates) {
                if ((side > 0 && b.left < l.x - d) || (side < 0 && b.Right() > l.x + d))
                    continue;
                const double dist = Distance(b, l.x, l.y);
                // Beyond the marker's gap the label needs a leader line,
                // which costs as much as a row of text.
                const bool leader = dist > d + 0.5;
                const double cost = dist + (leader ? h : 0) + (b.top > l.y ? 0.5 * h : 0);
                if (!(cost < best))
                    continue;
                double lx = 0, ly = 0;
                Nearest(b, l.x, l.y, lx, ly);
                if (!fits(b, leader, lx, ly))
                    continue;
                best = cost;
                place.box = b;
                place.shown = true;
                place.leader = leader;
                place.leaderX = lx;
                place.leaderY = ly;
            }
            if (!place.shown) {
                all = false;
                continue;
            }
            placed.push_back(place.box);
            if (place.leader)
                leaders.push_back({l.x, l.y, place.leaderX, place.leaderY});
        }
        return all;
    };

    // The strongest first, anywhere; failing that, a crowd's labels in
    // staircases over and under it (the rightmost nearest, each leader
    // clear of the labels to its right), or the other way round. Then the
    // same with numbers.
    std::vector<size_t> given(labels.size()), rightFirst;
    std::iota(given.begin(), given.end(), size_t{0});
    rightFirst = given;
    std::stable_sort(rightFirst.begin(), rightFirst.end(), [&](size_t a, size_t b) { return labels[a].x > labels[b].x; });
    const std::vector<size_t> leftFirst(rightFirst.rbegin(), rightFirst.rend());
    LabelLayout layout;
    for (bool numbered : {false, true})
        if (attempt(numbered, given, 0, layout) || attempt(numbered, rightFirst, 1, layout) ||
            attempt(numbered, leftFirst, -1, layout))
            return layout;
    attempt(true, given, 0, layout);
    return layout;
}

bool FreePlace(const Box& plot, double width, double height, const std::vector<Box>& avoid, double gap, Box& out)
{
    if (!(width >= 0 && height >= 0 && width <= plot.width && height <= plot.height))
        return false;
    const auto free = [&](const Box& b) {
        for (const Box& a : avoid)
            if (Grown(a, gap).Overlaps(b))
                return false;
        return true;
    };
    const double inset = std::min(gap, std::min(plot.width - width, plot.height - height) / 2);
    const Box corners[] = {{plot.Right() - width - inset, plot.top + inset, width, height},
                           {plot.left + inset, plot.top + inset, width, height}};
    for (const Box& b : corners)
        if (free(b)) {
            out = b;
            return true;
        }
    const double step = std::max(4.0, std::max(plot.width, plot.height) / 100);
    for (double top = plot.top; top + height <= plot.Bottom(); top += step)
        for (double left = plot.Right() - width; left >= plot.left; left -= step)
            if (free({left, top, width, height})) {
                out = {left, top, width, height};
                return true;
            }
    return false;
}

KeyLayout LayOutKey(const std::vector<double>& widths, double lineHeight, double height, double columnGap)
{
    KeyLayout key;
    if (widths.empty() || !(lineHeight > 0))
        return key;
    const size_t rows = std::max<size_t>(1, std::isfinite(height) && height > 0
                                                ? static_cast<size_t>(std::min(height / lineHeight, 1e6))
                                                : widths.size());
    double left = 0, column = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        const size_t row = i % rows;
        if (row == 0 && i > 0) {
            left += column + columnGap;
            column = 0;
        }
        const double w = std::isfinite(widths[i]) ? std::max(0.0, widths[i]) : 0;
        key.lines.push_back({left, static_cast<double>(row) * lineHeight, w, lineHeight});
        column = std::max(column, w);
        key.height = std::max(key.height, static_cast<double>(row + 1) * lineHeight);
    }
    key.width = left + column;
    return key;
}

}  // namespace tarvo::meter
