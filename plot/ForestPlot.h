// A survey's forest plot: each block's number of dogs N as a point with its 95% limits as a line
// through it, grouped by stratum; under each stratum its dogs per block of the frame (its total
// over its blocks) as a diamond across its limits, and the city's under all. Every row shares one
// axis of dogs, from 0, so blocks and strata compare at a glance. Labels stand on the left, the
// numbers on the right.
//
// Drawn on a Canvas like the profile, so a PDF page gets lines and text. A survey longer than one
// picture is drawn a range of rows at a time (a page, the part of a view scrolled to) on the same
// scale, with the header and the axis on each.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "Canvas.h"

namespace kestrum {

struct ForestRow {
    enum class Kind {
        Heading, // a stratum's name above its blocks
        Block,   // a block's N
        Stratum, // a stratum's dogs per block
        City,    // the city's dogs per block
    };
    Kind kind = Kind::Block;
    std::string label; // UTF-8, as all the plot's text
    // NaN where not given; an open limit lies beyond the value given (a bound of P).
    double estimate = std::numeric_limits<double>::quiet_NaN();
    double lower = std::numeric_limits<double>::quiet_NaN();
    double upper = std::numeric_limits<double>::quiet_NaN();
    bool lowerOpen = false;
    bool upperOpen = false;
    std::string note; // in place of the range when there is no estimate ("no street count")
};

struct ForestPlot {
    std::vector<ForestRow> rows;
    std::string labelTitle = "block";
    std::string valueTitle = "dogs (95% limits)";
    std::string axisTitle = "dogs in the block; a diamond: dogs per block of the stratum";
};

// What stays the same for every part of one plot drawn on canvases alike.
struct ForestScale {
    double top = 1.0;        // the axis runs from 0 to top dogs
    double step = 1.0;       // between the axis's ticks
    double labelWidth = 0.0; // the label column, at most a third of the width
    double valueWidth = 0.0; // the numbers' column
};

// A round top above every estimate and limit, but at most two and a half times the largest
// estimate: a limit far beyond the rest (a block with P near its bound) would squeeze every other
// row to nothing, so it runs off the axis with an arrow instead.
ForestScale forestScale(const Canvas& canvas, const ForestPlot& plot);

// Rows of one text line and a half, under a header line, above an axis of three lines.
double forestRowHeight(const Canvas& canvas);
std::size_t forestRowsThatFit(const Canvas& canvas);
// The height that shows rows rows whole.
double forestHeight(const Canvas& canvas, std::size_t rows);

// Clears the canvas and draws rows [first, first + count) of the plot from the top, the header
// above them and the axis at the bottom of the canvas. Returns the rows drawn: count, or fewer at
// the plot's end or when the canvas is too short for them.
std::size_t drawForest(Canvas& canvas, const ForestPlot& plot, const ForestScale& scale,
                       std::size_t first, std::size_t count);

// The numbers of a row as its column shows them: "36.9 (30.1 to 49.3)", "above" or "below" before a
// limit that is open; empty without an estimate.
std::string forestValueText(const ForestRow& row, const text::NumberLocale& locale = {});

} // namespace kestrum
