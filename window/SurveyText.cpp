#include "SurveyText.h"

#include <QFileInfo>

#include <array>
#include <cmath>

#include "InferenceText.h"
#include "NumberText.h"
#include "SurveyForest.h"

namespace kestrum {

using survey::RowSummary;
using survey::TotalsRow;

namespace {

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

bool given(double value)
{
    return std::isfinite(value);
}

QString proportion(double value)
{
    return given(value) ? text::format(value, QStringLiteral("0.000")) : QString();
}

QString stratumName(const TotalsRow& row)
{
    if (row.city) {
        return QStringLiteral("city");
    }
    return row.stratum.empty() ? QStringLiteral("the one stratum") : fromStd(row.stratum);
}

const TotalsRow* cityRow(const LoadedSurvey& loaded)
{
    const auto& rows = loaded.results.totalsRows();
    return rows.empty() || !rows.back().city ? nullptr : &rows.back();
}

} // namespace

QString blockColumnTitle(BlockColumn column)
{
    static const std::array<QString, static_cast<std::size_t>(BlockColumn::kCount)> titles{
        QStringLiteral("line"),
        QStringLiteral("block"),
        QStringLiteral("stratum"),
        QStringLiteral("1,0,0"),
        QStringLiteral("1,1,1"),
        QStringLiteral("1,0,1"),
        QStringLiteral("1,1,0"),
        QStringLiteral("S"),
        QStringLiteral("P"),
        QStringLiteral("count"),
        QStringLiteral("N"),
        QStringLiteral("N lower"),
        QStringLiteral("N upper"),
        QStringLiteral("P in total"),
        QStringLiteral("N in total"),
        QStringLiteral("marked"),
        QStringLiteral("coverage"),
        QStringLiteral("coverage lower"),
        QStringLiteral("coverage upper"),
        QStringLiteral("warnings")};
    return titles[static_cast<std::size_t>(column)];
}

std::vector<BlockColumn> blockColumns(const LoadedSurvey& loaded)
{
    std::vector<BlockColumn> columns;
    for (int k = 0; k < static_cast<int>(BlockColumn::kCount); ++k) {
        const auto column = static_cast<BlockColumn>(k);
        const bool ofCoverage =
            column >= BlockColumn::Marked && column <= BlockColumn::CoverageUpper;
        if (!ofCoverage || loaded.results.marked()) {
            columns.push_back(column);
        }
    }
    return columns;
}

bool isTextColumn(BlockColumn column)
{
    return column == BlockColumn::Block || column == BlockColumn::Stratum ||
           column == BlockColumn::Warnings;
}

QString dogsLimit(const inference::Limit& limit)
{
    switch (limit.kind) {
    case inference::LimitKind::Found:
        return dogs(limit.value);
    case inference::LimitKind::BelowRange:
        return QStringLiteral("below ") + dogs(limit.value);
    case inference::LimitKind::AboveRange:
        return QStringLiteral("above ") + dogs(limit.value);
    case inference::LimitKind::NotGiven:
        break;
    }
    return {};
}

QString blockCell(const RowSummary& row, BlockColumn column)
{
    const auto frequency = [&row](std::size_t k) {
        return row.failed ? QString() : QString::number(row.counts[k]);
    };
    switch (column) {
    case BlockColumn::Line:
        return QString::number(row.line);
    case BlockColumn::Block:
        return fromStd(row.block);
    case BlockColumn::Stratum:
        return fromStd(row.stratum);
    case BlockColumn::N100:
        return frequency(0);
    case BlockColumn::N111:
        return frequency(1);
    case BlockColumn::N101:
        return frequency(2);
    case BlockColumn::N110:
        return frequency(3);
    case BlockColumn::S:
        return row.sHeld() ? text::plain(row.sFixed) + QStringLiteral(" held") : proportion(row.S);
    case BlockColumn::P:
        return proportion(row.P);
    case BlockColumn::Count:
        return given(row.count) ? text::plain(row.count) : QString();
    case BlockColumn::N:
        return given(row.N) ? dogs(row.N) : QString();
    case BlockColumn::NLower:
        return dogsLimit(row.nLower);
    case BlockColumn::NUpper:
        return dogsLimit(row.nUpper);
    case BlockColumn::PInTotal:
        return proportion(row.pInTotal);
    case BlockColumn::NInTotal:
        return given(row.nInTotal) ? dogs(row.nInTotal) : QString();
    case BlockColumn::Marked:
        return given(row.marked) ? text::plain(row.marked) : QString();
    case BlockColumn::Coverage:
        return proportion(row.coverage.estimate);
    case BlockColumn::CoverageLower:
        return proportion(row.coverage.lower);
    case BlockColumn::CoverageUpper:
        return proportion(row.coverage.upper);
    case BlockColumn::Warnings: {
        if (row.failed) {
            return QStringLiteral("Not read: ") + fromStd(row.error) + QLatin1Char('.');
        }
        QStringList sentences;
        for (const std::string& warning : row.warnings) {
            sentences << fromStd(warning);
        }
        return sentences.join(QLatin1Char(' '));
    }
    case BlockColumn::kCount:
        break;
    }
    return {};
}

double blockSortValue(const RowSummary& row, BlockColumn column)
{
    const double none = survey::kNone;
    const auto frequency = [&row, none](std::size_t k) {
        return row.failed ? none : static_cast<double>(row.counts[k]);
    };
    switch (column) {
    case BlockColumn::Line:
        return static_cast<double>(row.line);
    case BlockColumn::N100:
        return frequency(0);
    case BlockColumn::N111:
        return frequency(1);
    case BlockColumn::N101:
        return frequency(2);
    case BlockColumn::N110:
        return frequency(3);
    case BlockColumn::S:
        return row.sHeld() ? row.sFixed : row.S;
    case BlockColumn::P:
        return row.P;
    case BlockColumn::Count:
        return row.count;
    case BlockColumn::N:
        return row.N;
    case BlockColumn::NLower:
        return row.nLower.kind == inference::LimitKind::NotGiven ? none : row.nLower.value;
    case BlockColumn::NUpper:
        return row.nUpper.kind == inference::LimitKind::NotGiven ? none : row.nUpper.value;
    case BlockColumn::PInTotal:
        return row.pInTotal;
    case BlockColumn::NInTotal:
        return row.nInTotal;
    case BlockColumn::Marked:
        return row.marked;
    case BlockColumn::Coverage:
        return row.coverage.estimate;
    case BlockColumn::CoverageLower:
        return row.coverage.lower;
    case BlockColumn::CoverageUpper:
        return row.coverage.upper;
    default:
        break;
    }
    return none;
}

QStringList strataColumns()
{
    return {QStringLiteral("stratum"),        QStringLiteral("blocks in the city"),
            QStringLiteral("sampled"),        QStringLiteral("used"),
            QStringLiteral("dogs"),           QStringLiteral("95% limits"),
            QStringLiteral("dogs per block"), QStringLiteral("P"),
            QStringLiteral("P's 95% limits"), QStringLiteral("method")};
}

QList<QStringList> strataRows(const LoadedSurvey& loaded)
{
    QList<QStringList> rows;
    for (const TotalsRow& row : loaded.results.totalsRows()) {
        const inference::Total& t = row.total;
        const bool total = t.status != inference::TotalStatus::NotGiven;
        const bool limits = t.status == inference::TotalStatus::Given;
        const std::optional<double> perBlock = t.perBlock();
        QString P;
        QString limitsOfP;
        if (row.shared && row.shared->fit.hasEstimates()) {
            P = proportion(row.shared->fit.P);
            if (row.shared->limitsP.given()) {
                limitsOfP = QStringLiteral("%1 to %2")
                                .arg(limitCaption(row.shared->limitsP.lower),
                                     limitCaption(row.shared->limitsP.upper));
            }
        }
        rows << QStringList{
            stratumName(row),
            QString::number(static_cast<qulonglong>(t.frameBlocks)),
            QString::number(row.sampled),
            QString::number(row.used),
            total ? wholeDogs(t.total) : QStringLiteral("none"),
            limits ? QStringLiteral("%1 to %2").arg(wholeDogs(t.lower), wholeDogs(t.upper))
                   : QString(),
            perBlock ? text::format(*perBlock, QStringLiteral("0.0")) : QString(),
            P,
            limitsOfP,
            QString::fromLatin1(survey::methodName(row.method))};
    }
    return rows;
}

namespace {

QString percent(double share)
{
    return text::format(100.0 * share, QStringLiteral("0")) + QLatin1Char('%');
}

QStringList coverageCells(const std::optional<inference::Coverage>& coverage,
                          std::optional<double> toVaccinate)
{
    if (!coverage || coverage->status == inference::CoverageStatus::NotGiven) {
        return {QStringLiteral("none"), QString(), QString()};
    }
    return {percent(coverage->share),
            coverage->status == inference::CoverageStatus::Given
                ? QStringLiteral("%1 to %2").arg(percent(coverage->lower), percent(coverage->upper))
                : QString(),
            toVaccinate ? wholeDogs(*toVaccinate) : QString()};
}

} // namespace

QStringList coverageColumns()
{
    return {QStringLiteral("stratum"), QStringLiteral("coverage"), QStringLiteral("95% limits"),
            QStringLiteral("target"), QStringLiteral("dogs still to vaccinate")};
}

QList<QStringList> coverageRows(const LoadedSurvey& loaded)
{
    QList<QStringList> rows;
    if (!loaded.results.marked()) {
        return rows;
    }
    const QString target = percent(loaded.settings.coverageTarget);
    const auto row = [&target](const QString& name, const QStringList& cells) {
        return QStringList{name, cells[0], cells[1], target, cells[2]};
    };
    if (!loaded.framed()) {
        if (const auto& pooled = loaded.results.pooledFit()) {
            rows << row(QStringLiteral("the blocks counted"),
                        coverageCells(pooled->coverage, std::nullopt));
        }
        return rows;
    }
    for (const TotalsRow& totals : loaded.results.totalsRows()) {
        rows << row(stratumName(totals), coverageCells(totals.coverage, totals.toVaccinate));
    }
    return rows;
}

QString coverageSentence(const LoadedSurvey& loaded)
{
    if (!loaded.results.marked()) {
        return {};
    }
    const TotalsRow* city = cityRow(loaded);
    const auto& pooled = loaded.results.pooledFit();
    const std::optional<inference::Coverage> coverage = city != nullptr ? city->coverage
                                                        : pooled        ? pooled->coverage
                                                                        : std::nullopt;
    const QString whose = city != nullptr ? QStringLiteral("the city's dogs")
                                          : QStringLiteral("the dogs of the blocks counted");
    if (!coverage || coverage->status == inference::CoverageStatus::NotGiven) {
        return QStringLiteral("No share of %1 marked can be given: the warnings say why.")
            .arg(whose);
    }
    QString sentence =
        QStringLiteral("About %1 of %2 carry the mark").arg(percent(coverage->share), whose);
    if (coverage->status == inference::CoverageStatus::Given) {
        sentence += QStringLiteral(", between %1 and %2 (95% limits)")
                        .arg(percent(coverage->lower), percent(coverage->upper));
    }
    const QString target = percent(loaded.settings.coverageTarget);
    if (city != nullptr && city->toVaccinate) {
        return sentence + (*city->toVaccinate > 0.0
                               ? QStringLiteral("; the target of %1 needs about %2 dogs more.")
                                     .arg(target, wholeDogs(*city->toVaccinate))
                               : QStringLiteral("; the target of %1 is reached.").arg(target));
    }
    return sentence + QStringLiteral(" (the target: %1).").arg(target);
}

QString citySentence(const LoadedSurvey& loaded)
{
    const TotalsRow* city = cityRow(loaded);
    if (city == nullptr) {
        return QStringLiteral("Without a sampling frame there is no total for the city: the table "
                              "gives each block's dogs from its street count. Put the frame beside "
                              "the survey as %1.frame.csv, or open it with File > Open frame.")
            .arg(QFileInfo(loaded.settings.survey).completeBaseName());
    }
    const inference::Total& t = city->total;
    const QString blocks = QString::number(static_cast<qulonglong>(t.frameBlocks));
    switch (t.status) {
    case inference::TotalStatus::Given:
        return QStringLiteral("About %1 dogs live in the city's %2 blocks, between %3 and %4 "
                              "(95% limits), from the street counts of %5 blocks.")
            .arg(wholeDogs(t.total), blocks, wholeDogs(t.lower), wholeDogs(t.upper))
            .arg(city->used);
    case inference::TotalStatus::WithoutLimits:
        return QStringLiteral("About %1 dogs live in the city's %2 blocks, from the street counts "
                              "of %3 blocks; there are no limits, as the warnings say.")
            .arg(wholeDogs(t.total), blocks)
            .arg(city->used);
    case inference::TotalStatus::NotGiven:
        break;
    }
    return QStringLiteral("No number of dogs can be given for the city: the warnings say why.");
}

QString methodParagraph(const LoadedSurvey& loaded)
{
    const QString fit = QStringLiteral(
        "Each block was counted three times, and P and S were estimated by maximum likelihood "
        "from the dogs identified on the first count and seen again, or not, on the next two.");
    if (!loaded.framed()) {
        return fit + QStringLiteral(" A block's dogs are its street count divided by its P, with "
                                    "limits from those of P alone. Without a sampling frame no "
                                    "total is made.");
    }
    QString how;
    switch (loaded.settings.pBy) {
    case survey::PBy::Stratum:
        how = QStringLiteral("For the totals each stratum's P is fitted to all its blocks "
                             "together, each block's own P drawn towards it only as far as the "
                             "blocks are seen to differ, and a block's dogs are its street count "
                             "divided by that P.");
        break;
    case survey::PBy::Survey:
        how = QStringLiteral("For the totals one P is fitted to all the survey's blocks "
                             "together, each block's own P drawn towards it only as far as the "
                             "blocks are seen to differ, and a block's dogs are its street count "
                             "divided by that P.");
        break;
    case survey::PBy::Block:
        how = QStringLiteral("For the totals each block's dogs are its street count divided by "
                             "its own P; a block whose P lies on a bound or has no standard error "
                             "is left out, and the other blocks of its stratum stand for it.");
        break;
    }
    return fit + QLatin1Char(' ') + how +
           QStringLiteral(
               " A stratum's dogs are those of its blocks counted, scaled up to all the blocks "
               "the frame gives it, and the city's are the strata's added up. The 95% limits "
               "allow for the chance of which blocks were counted, the street count's own "
               "variation from one count to another and the uncertainty in P. They assume that "
               "the blocks were chosen at random within each stratum, that P stays the same over "
               "the three counts and that a dog that leaves a block does not come back; dogs that "
               "are never on the street are in no count.");
}

QStringList surveyWarnings(const LoadedSurvey& loaded)
{
    QStringList warnings;
    if (!loaded.frameProblem.isEmpty()) {
        warnings << QStringLiteral("The sampling frame was not used: %1.").arg(loaded.frameProblem);
    }
    if (!loaded.problem.isEmpty()) {
        warnings << QStringLiteral("The survey was not read to its end: %1.").arg(loaded.problem);
    }
    std::size_t withWarnings = 0;
    for (const RowSummary& row : loaded.results.rows()) {
        if (row.failed) {
            warnings << QStringLiteral("Line %1%2 was not read: %3.")
                            .arg(row.line)
                            .arg(row.block.empty()
                                     ? QString()
                                     : QStringLiteral(" (%1)").arg(fromStd(row.block)),
                                 fromStd(row.error));
        } else if (!row.warnings.empty()) {
            ++withWarnings;
        }
    }
    for (const TotalsRow& row : loaded.results.totalsRows()) {
        for (const survey::Note& note : row.notes) {
            warnings << (row.city ? QStringLiteral("City: ")
                                  : QStringLiteral("Stratum %1: ").arg(stratumName(row))) +
                            fromStd(note.message);
        }
    }
    if (const auto& pooled = loaded.results.pooledFit()) {
        if (!pooled->fit) {
            warnings
                << QStringLiteral("No pooled fit of the blocks: %1.").arg(fromStd(pooled->reason));
        }
        if (pooled->fixedSBlocks > 0) {
            warnings << (pooled->fixedSBlocks == 1
                             ? QStringLiteral("1 block held S at a value of its own and took no "
                                              "part in the pooled fit of all blocks.")
                             : QStringLiteral("%1 blocks held S at values of their own and took "
                                              "no part in the pooled fit of all blocks.")
                                   .arg(pooled->fixedSBlocks));
        }
    }
    if (withWarnings > 0) {
        warnings << (withWarnings == 1
                         ? QStringLiteral("1 block has warnings of its own, given with it in the "
                                          "table of blocks.")
                         : QStringLiteral(
                               "%1 blocks have warnings of their own, given with each in "
                               "the table of blocks.")
                               .arg(withWarnings));
    }
    return warnings;
}

ForestPlot surveyForest(const LoadedSurvey& loaded)
{
    return survey::surveyForest(loaded.results, loaded.strata);
}

} // namespace kestrum
