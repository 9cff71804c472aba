// Where a plot's point labels go: each label near its own point, never over
// another label nor another point's marker, never past the plot's edges.
// A label that has no room beside its point moves up or down (a stagger)
// with a leader line back to it (a leader never crosses a label, though it
// may pass over a crowd's markers); when some label finds no place at all,
// every point takes a number instead and the texts go to a key (LayOutKey)
// in a corner of the plot that covers no marker (FreePlace).
//
// Pure geometry in the plot's own units (pixels, y downwards): the caller
// measures the texts and draws them.
#pragma once

#include <cstddef>
#include <vector>

namespace tarvo::meter {

struct Box {
    double left = 0, top = 0, width = 0, height = 0;
    double Right() const { return left + width; }
    double Bottom() const { return top + height; }
    // Whether the two boxes share any area (touching edges do not).
    bool Overlaps(const Box& o) const;
    // Whether o lies wholly within this box.
    bool Holds(const Box& o) const;
};

struct LabelRequest {
    double x = 0, y = 0;             // the point (the marker's centre)
    double width = 0, height = 0;    // the label's text
    double numberWidth = 0;          // its number's text, for the key (same height)
};

struct LabelPlace {
    Box box;              // where the text (or its number) goes
    bool shown = true;    // false: no room even for its number (the key still lists it)
    bool leader = false;  // a line from the point to the box (it moved away)
    double leaderX = 0, leaderY = 0;  // the box's end of the leader
};

struct LabelLayout {
    bool numbered = false;           // the points carry numbers 1, 2, ...; the texts go to a key
    std::vector<LabelPlace> places;  // one per request, in their order
};

// Lays out the labels of points in `plot`, the first requests first (give
// the strongest first: they keep the places nearest their points). A
// marker covers `marker` each way around its point; labels keep `gap` from
// their marker and from one another. A point outside the plot gets no
// label (shown false).
// No label goes over a box of `keepClear` (a key already placed).
LabelLayout LayOutLabels(const std::vector<LabelRequest>& labels, const Box& plot, double marker = 3, double gap = 2,
                         const std::vector<Box>& keepClear = {});

// A place for a box of width x height inside the plot over none of
// `avoid` (grown by gap): the top right corner, else the top left, else the
// first free place along rows from the top. False when there is none.
bool FreePlace(const Box& plot, double width, double height, const std::vector<Box>& avoid, double gap, Box& out);

// A key of lines of these widths, `lineHeight` each, in columns no taller
// than `height`: each line's box, from (0, 0), and the key's whole size.
struct KeyLayout {
    std::vector<Box> lines;
    double width = 0, height = 0;
};
KeyLayout LayOutKey(const std::vector<double>& widths, double lineHeight, double height, double columnGap = 8);

}  // namespace tarvo::meter
