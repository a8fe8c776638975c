// The inference's numbers and words as the window, its details and its report show them, in the
// user's locale.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "BlockAnalysis.h"

namespace kestrum {

// "0.712", "below 0.01", "above 0.99", or "not given": a found limit in the pattern, the value an
// open one lies beyond in openPattern.
QString limitCaption(const inference::Limit& limit,
                     const QString& pattern = QStringLiteral("0.000"),
                     const QString& openPattern = QStringLiteral("0.00"));
// "95% limits for P: 0.712 to 0.893", or why there are none.
QString limitsLine(const BlockAnalysis& block, inference::Parameter parameter);
// The warnings, one sentence each.
QStringList warningSentences(const BlockAnalysis& block);
// A number to four decimals, or a dash where it is not given.
QString fourDecimals(double value);

// The rows of the estimates table: parameter, estimate, standard error, Wald limits, profile
// limits.
QStringList estimateColumns();
QList<QStringList> estimateRows(const BlockAnalysis& block);
// What the estimates table cannot hold: why there are no standard errors, or what a Wald limit
// outside 0..1 (marked "*") means.
QStringList estimateNotes(const BlockAnalysis& block);
// A number of dogs to a tenth ("29.5"); from 1E+15 up in exponent form to four significant digits
// ("1.229E+308"), so that no count is wider than its line.
QString dogs(double value);
// A number of dogs in a sentence: whole dogs, "1269", or a tenth below 10, "3.4"; empty for a
// value that is not a number.
QString wholeDogs(double value);
// Why a street count gives the block no number of dogs of its own ("must not be negative", "is too
// large: ..."), or nothing. As the survey tool does, a count whose N = count / P or a limit of it
// is no finite number is refused rather than shown as "Infinity".
QString streetCountProblem(const BlockAnalysis& block, double streetCount);
// "About 36.9 dogs." and, on a line each, the 95% limits for the uncertainty in P only and those
// with the street count's own variation too, each labelled; or why there is no estimate.
QString populationSentence(const BlockAnalysis& block, double streetCount);
// The same as cells, every limit's lower and upper value in a cell of its own: which limits, N,
// lower, upper, and a note where a limit lies beyond the value given. No rows without an estimate.
QStringList populationColumns();
QList<QStringList> populationRows(const BlockAnalysis& block, double streetCount);

// The estimates with every limit's lower and upper value in a cell of its own, numbers only (an
// empty cell where none is given), for a spreadsheet: parameter, estimate, standard error, Wald
// lower and upper, profile lower and upper, and a note for what the cells cannot say.
QStringList estimateCellColumns();
QList<QStringList> estimateCells(const BlockAnalysis& block);

// The one sentence a report opens with: "About 37 dogs live in block market, between 30 and 49;
// ...", or without a street count what P and S say of the block. name: the block's, or empty.
QString blockSentence(const BlockAnalysis& block, const QString& name,
                      std::optional<double> streetCount);
// The rows of the frequencies table: capture history, observed, expected.
QStringList frequencyColumns();
QList<QStringList> frequencyRows(const BlockAnalysis& block);
// G2 and X2 with their degrees of freedom and p-values, or why there is no check.
QString fitCheckSentence(const BlockAnalysis& block);
// "Maximum log likelihood -52.741, with P and S estimated."
QString summarySentence(const BlockAnalysis& block);

// What P and S are, in one line each, for people who do not read statistics.
QString meaningOfP();
QString meaningOfS();

} // namespace kestrum
