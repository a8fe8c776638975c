// The inference's numbers and words as the window, its details and its report show them, in the
// user's locale.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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
// Why a street count gives the block no number of dogs of its own ("must not be negative", "is too
// large: ..."), or nothing. As the survey tool does, a count whose N = count / P or a limit of it
// is no finite number is refused rather than shown as "Infinity".
QString streetCountProblem(const BlockAnalysis& block, double streetCount);
// "About 29.5 dogs (95% limits 25.8 to 37.7). ..." from a street count, or why there is no
// estimate.
QString populationSentence(const BlockAnalysis& block, double streetCount);
// The rows of the frequencies table: capture history, observed, expected.
QStringList frequencyColumns();
QList<QStringList> frequencyRows(const BlockAnalysis& block);
// G2 and X2 with their degrees of freedom and p-values, or why there is no check.
QString fitCheckSentence(const BlockAnalysis& block);
// "Maximum log likelihood -52.741, with P and S estimated."
QString summarySentence(const BlockAnalysis& block);

} // namespace kestrum
