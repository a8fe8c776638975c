// A survey's numbers and words as the survey window and the city report show them, in the user's
// locale: the cells of the block table and the strata table, the sentence of the city's dogs, the
// method, the warnings and the forest plot's rows.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

#include "ForestPlot.h"
#include "SurveyLoad.h"

namespace kestrum {

// The block table's columns, in order.
enum class BlockColumn {
    Line,
    Block,
    Stratum,
    N100,
    N111,
    N101,
    N110,
    S,
    P,
    Count,
    N,
    NLower,
    NUpper,
    PInTotal,
    NInTotal,
    Marked, // the four coverage columns, where the survey gives marks
    Coverage,
    CoverageLower,
    CoverageUpper,
    Warnings,
    kCount
};
// The columns the survey's table shows: every one, those of coverage only where it has marks.
std::vector<BlockColumn> blockColumns(const LoadedSurvey& loaded);
QString blockColumnTitle(BlockColumn column);
// What the column says of the row; empty where the row gives nothing.
QString blockCell(const survey::RowSummary& row, BlockColumn column);
// The value the column sorts by: NaN where the row gives none (sorted last), and for text columns
// nothing (they sort by their text).
double blockSortValue(const survey::RowSummary& row, BlockColumn column);
bool isTextColumn(BlockColumn column);

// "30.1", "below 30.3", "above 4000.0": a limit of N as the table shows it.
QString dogsLimit(const inference::Limit& limit);

// The rows of the strata and the city: stratum, blocks in the city, sampled, used, dogs, 95%
// limits, dogs per block, P, P's 95% limits, method; with coverage, the window's table adds the
// coverage columns below.
QStringList strataColumns();
QList<QStringList> strataRows(const LoadedSurvey& loaded);
// Where the survey gives marks: stratum, coverage, its 95% limits, target, dogs still to
// vaccinate; the survey's own row (without a frame) or the strata's and the city's.
QStringList coverageColumns();
QList<QStringList> coverageRows(const LoadedSurvey& loaded);
// "About 62% of the city's dogs carry the mark, between 55% and 69% (95% limits); the target of
// 70% needs about 110 dogs more."; empty without marks.
QString coverageSentence(const LoadedSurvey& loaded);

// "About 1269 dogs live in the city's 42 blocks, between 1096 and 1517 (95% limits)." or why there
// is no total.
QString citySentence(const LoadedSurvey& loaded);
// How the totals were made and what they assume, for the method in use.
QString methodParagraph(const LoadedSurvey& loaded);
// Every warning of the survey: the frame not used, the run stopped, rows not read, the strata's,
// the city's and the pooled fit's, and how many blocks carry warnings of their own.
QStringList surveyWarnings(const LoadedSurvey& loaded);

// Each block's N grouped by stratum (in the frame's order, else in the order the strata come), the
// strata's and the city's dogs per block beneath. Rows that were not read are left out.
ForestPlot surveyForest(const LoadedSurvey& loaded);

} // namespace kestrum
