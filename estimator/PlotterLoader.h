// Finding and loading kestrum-estimate's plot module, the one part of the program that needs Qt.
#pragma once

#include <memory>

#include "BlockPlots.h"

namespace kestrum::survey {

// The file the plotter is loaded from, beside the program.
inline constexpr const char* kPlotModule = "kestrum-estimate-plots.so";

// Loads Qt and the plotter, and makes the application Qt's fonts need; once in a run. Throws
// std::runtime_error when the plotting part cannot be loaded.
std::unique_ptr<Plotter> loadPlotter();

} // namespace kestrum::survey
