// The profile plot of each block as a PNG file, drawn by the window's own plot code on an image of
// the window's plot size in the window's font.
#pragma once

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>

#include "BlockAnalysis.h"

namespace kestrum::survey {

// Block names come from the input and may hold anything, "../" included: only letters, digits,
// '.', '-' and '_' reach a file name, never a leading dot, at most 100 bytes.
std::string safeFileName(const std::string& block);

// The folder the plots go to, and a file name in it for each block that no other block of the
// run takes, however alike their names.
class PlotFolder {
public:
    // Creates the folder if need be; throws std::filesystem::filesystem_error when it cannot.
    explicit PlotFolder(std::filesystem::path folder);

    std::filesystem::path fileFor(const std::string& block, std::size_t line);

private:
    std::filesystem::path folder_;
    std::set<std::string> taken_; // in lower case: some file systems ignore case
};

struct PlottedBlock {
    BlockAnalysis block;
    std::string problem; // why the plot was not saved; empty when it was
};

// Draws and saves the plots. Loaded at run time: the one part of the program that needs Qt.
class Plotter {
public:
    virtual ~Plotter() = default;

    // The window's estimate from the fit to the plot: record, fit, scan range and profile scan,
    // then the analysis, which also learns what the plotted profile shows; the plot with its
    // marks at the exact limits goes to file, whole or not at all. Safe to call from several
    // threads at once.
    virtual PlottedBlock estimateAndPlot(const EstimateInputs& inputs, bool sFree,
                                         inference::Parameter profiled, KestrumN_E04JYF N_E04JYF,
                                         const std::filesystem::path& file) = 0;
};

} // namespace kestrum::survey
