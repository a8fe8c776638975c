#include "InferenceText.h"

#include <QStringList>

#include <array>
#include <cmath>

#include "NumberText.h"
#include "Population.h"

namespace kestrum {

using inference::LimitKind;
using inference::Parameter;

namespace {

template <class Found, class Open>
QString caption(const inference::Limit& limit, Found found, Open open)
{
    switch (limit.kind) {
    case LimitKind::Found:
        return found(limit.value);
    case LimitKind::BelowRange:
        return QStringLiteral("below ") + open(limit.value);
    case LimitKind::AboveRange:
        return QStringLiteral("above ") + open(limit.value);
    case LimitKind::NotGiven:
        break;
    }
    return QStringLiteral("not given");
}

} // namespace

QString limitCaption(const inference::Limit& limit, const QString& pattern,
                     const QString& openPattern)
{
    return caption(
        limit, [&pattern](double value) { return text::format(value, pattern); },
        [&openPattern](double value) { return text::format(value, openPattern); });
}

QString dogs(double value)
{
    // Past 15 digits "0.0" would write out every digit of the double (309 of them near its
    // largest), wider than any dialog; four significant digits in the exponent form the boxes use
    // say as much as the count carries.
    if (!(std::fabs(value) >= 1e15)) {
        return text::format(value, QStringLiteral("0.0"));
    }
    return text::plain(QString::number(value, 'e', 3).toDouble());
}

QString wholeDogs(double value)
{
    if (!std::isfinite(value)) {
        return {};
    }
    if (std::fabs(value) >= 1e15) {
        return dogs(value);
    }
    return text::format(value,
                        std::fabs(value) < 10.0 ? QStringLiteral("0.0") : QStringLiteral("0"));
}

namespace {

QString fromView(std::string_view view)
{
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

// A Wald limit outside 0..1 is no proportion: it is shown, marked, and the note says why.
QString waldLimit(double value)
{
    return fourDecimals(value) + (value < 0.0 || value > 1.0 ? QStringLiteral("*") : QString());
}

QString wald(const inference::WaldInterval& interval)
{
    return QStringLiteral("%1 to %2").arg(waldLimit(interval.lower), waldLimit(interval.upper));
}

bool outsideZeroOne(const inference::WaldInterval& interval)
{
    return interval.lower < 0.0 || interval.upper > 1.0;
}

QString profile(const inference::ProfileInterval& interval)
{
    if (!interval.given()) {
        return fromView(interval.reason);
    }
    return QStringLiteral("%1 to %2")
        .arg(limitCaption(interval.lower, QStringLiteral("0.0000")),
             limitCaption(interval.upper, QStringLiteral("0.0000")));
}

QString pValue(double p)
{
    return p < 0.0001 ? QStringLiteral("< 0.0001") : fourDecimals(p);
}

const QString kDash = QStringLiteral("–");

} // namespace

QString limitsLine(const BlockAnalysis& block, Parameter parameter)
{
    const QString name = QString::fromLatin1(inference::parameterName(parameter));
    const inference::ProfileInterval& interval = block.analysis.limits(parameter);
    if (!interval.given()) {
        // The line is short; the reason in full is among the warnings and in the details.
        return parameter == Parameter::S && !block.sFree
                   ? QStringLiteral("95% limits for S: none, S is held fixed")
                   : QStringLiteral("95% limits for %1: none").arg(name);
    }
    return QStringLiteral("95% limits for %1: %2 to %3")
        .arg(name, limitCaption(interval.lower), limitCaption(interval.upper));
}

QStringList warningSentences(const BlockAnalysis& block)
{
    QStringList sentences;
    if (block.belowExactMaximum) {
        const auto& exact = block.analysis.fit;
        sentences << QStringLiteral("The search stopped on a lower peak of the likelihood; the "
                                    "highest lies at P = %1, S = %2 (log likelihood %3).")
                         .arg(text::format(exact.P, QStringLiteral("0.000")),
                              text::format(exact.S, QStringLiteral("0.000")),
                              text::format(exact.logLikelihood, QStringLiteral("0.000")));
    }
    for (const inference::Warning& warning : block.warnings) {
        sentences << QString::fromStdString(inference::describe(warning));
    }
    return sentences;
}

QString fourDecimals(double value)
{
    return std::isfinite(value) ? text::format(value, QStringLiteral("0.0000")) : kDash;
}

QStringList estimateColumns()
{
    return {QStringLiteral("parameter"), QStringLiteral("estimate"),
            QStringLiteral("standard error"), QStringLiteral("Wald 95% limits"),
            QStringLiteral("profile 95% limits")};
}

QList<QStringList> estimateRows(const BlockAnalysis& block)
{
    const inference::Analysis& analysis = block.analysis;
    const inference::StandardErrors& se = analysis.standardErrors;
    QList<QStringList> rows;
    rows << QStringList{QStringLiteral("P"), fourDecimals(block.P),
                        se.given() ? fourDecimals(se.seP) : kDash,
                        se.given() ? wald(se.waldP) : kDash, profile(analysis.limitsP)};
    if (block.sFree) {
        rows << QStringList{QStringLiteral("S"), fourDecimals(block.S),
                            se.given() ? fourDecimals(se.seS) : kDash,
                            se.given() ? wald(se.waldS) : kDash, profile(analysis.limitsS)};
    } else {
        rows << QStringList{QStringLiteral("S"),
                            QStringLiteral("held at %1").arg(text::plain(block.S)), kDash, kDash,
                            kDash};
    }
    return rows;
}

QStringList estimateNotes(const BlockAnalysis& block)
{
    const inference::StandardErrors& se = block.analysis.standardErrors;
    QStringList notes;
    if (!se.given()) {
        notes << QStringLiteral("No standard errors or Wald limits: %1.").arg(fromView(se.reason));
    } else if (outsideZeroOne(se.waldP) || (block.sFree && outsideZeroOne(se.waldS))) {
        notes << QStringLiteral("* A Wald limit outside 0 to 1 is no proportion: the normal "
                                "approximation fails this close to the edge. Use the profile "
                                "limits.");
    }
    return notes;
}

QString streetCountProblem(const BlockAnalysis& block, double streetCount)
{
    if (!(streetCount >= 0.0)) {
        return QStringLiteral("must not be negative");
    }
    const inference::PopulationEstimate estimate =
        inference::population(streetCount, block.analysis.fit, block.analysis.limitsP);
    const auto finite = [](const inference::Limit& limit) {
        return limit.kind == LimitKind::NotGiven || std::isfinite(limit.value);
    };
    if (estimate.given() &&
        !(std::isfinite(estimate.estimate) && finite(estimate.lower) && finite(estimate.upper))) {
        return QStringLiteral("is too large: count / P or one of its limits is too large for a "
                              "number");
    }
    return {};
}

namespace {

// A limit of N with the word that says it lies beyond the value, when it does. With the count's
// variation a limit can pass the largest double where N itself does not.
QString dogsCaption(const inference::Limit& limit)
{
    if (limit.kind != LimitKind::NotGiven && !std::isfinite(limit.value)) {
        return QStringLiteral("too large for a number");
    }
    return caption(limit, dogs, dogs);
}

// As dogs() for a cell: the value alone, or nothing.
QString dogsCell(const inference::Limit& limit)
{
    return limit.kind == LimitKind::NotGiven || !std::isfinite(limit.value) ? QString()
                                                                            : dogs(limit.value);
}

QString openNote(const inference::Limit& lower, const inference::Limit& upper)
{
    QStringList notes;
    if (lower.open()) {
        notes << QStringLiteral("the lower limit lies below the value given");
    }
    if (upper.open()) {
        notes << QStringLiteral("the upper limit lies above the value given");
    }
    return notes.join(QStringLiteral("; "));
}

} // namespace

QString populationSentence(const BlockAnalysis& block, double streetCount)
{
    if (const QString problem = streetCountProblem(block, streetCount); !problem.isEmpty()) {
        return QStringLiteral("The street count %1.").arg(problem);
    }
    const inference::PopulationEstimate estimate =
        inference::population(streetCount, block.analysis.fit, block.analysis.limitsP);
    if (!estimate.given()) {
        return fromView(estimate.reason);
    }
    const inference::PopulationEstimate withCount =
        inference::populationWithCount(streetCount, block.analysis);
    return QStringLiteral("About %1 dogs.\n95% limits for the uncertainty in P only: %2 to %3.\n"
                          "95% limits with the street count's own variation too, as the city's "
                          "totals have them: %4 to %5.")
        .arg(dogs(estimate.estimate), dogsCaption(estimate.lower), dogsCaption(estimate.upper),
             dogsCaption(withCount.lower), dogsCaption(withCount.upper));
}

QStringList populationColumns()
{
    return {QStringLiteral("dogs in the block: limits for"), QStringLiteral("N"),
            QStringLiteral("lower"), QStringLiteral("upper"), QStringLiteral("note")};
}

QList<QStringList> populationRows(const BlockAnalysis& block, double streetCount)
{
    if (!streetCountProblem(block, streetCount).isEmpty()) {
        return {};
    }
    const inference::PopulationEstimate estimate =
        inference::population(streetCount, block.analysis.fit, block.analysis.limitsP);
    if (!estimate.given()) {
        return {};
    }
    const inference::PopulationEstimate withCount =
        inference::populationWithCount(streetCount, block.analysis);
    return {{QStringLiteral("the uncertainty in P only"), dogs(estimate.estimate),
             dogsCell(estimate.lower), dogsCell(estimate.upper),
             openNote(estimate.lower, estimate.upper)},
            {QStringLiteral("the street count's own variation too"), dogs(withCount.estimate),
             dogsCell(withCount.lower), dogsCell(withCount.upper),
             openNote(withCount.lower, withCount.upper)}};
}

QStringList estimateCellColumns()
{
    return {QStringLiteral("parameter"),      QStringLiteral("estimate"),
            QStringLiteral("standard error"), QStringLiteral("Wald lower"),
            QStringLiteral("Wald upper"),     QStringLiteral("profile lower"),
            QStringLiteral("profile upper"),  QStringLiteral("note")};
}

QList<QStringList> estimateCells(const BlockAnalysis& block)
{
    const inference::Analysis& analysis = block.analysis;
    const inference::StandardErrors& se = analysis.standardErrors;
    const auto number = [](double value) {
        return std::isfinite(value) ? fourDecimals(value) : QString();
    };
    const auto limit = [](const inference::ProfileInterval& interval, const inference::Limit& l) {
        return interval.given() && l.kind != LimitKind::NotGiven
                   ? text::format(l.value, QStringLiteral("0.0000"))
                   : QString();
    };
    const auto row = [&](const QString& name, double estimate, double error,
                         const inference::WaldInterval& wald,
                         const inference::ProfileInterval& profile) {
        QStringList notes;
        if (se.given() && outsideZeroOne(wald)) {
            notes << QStringLiteral("a Wald limit lies outside 0 to 1");
        }
        if (profile.given()) {
            if (const QString open = openNote(profile.lower, profile.upper); !open.isEmpty()) {
                notes << QStringLiteral("profile: ") + open;
            }
        } else {
            notes << QStringLiteral("no profile limits: ") + fromView(profile.reason);
        }
        return QStringList{name,
                           number(estimate),
                           se.given() ? number(error) : QString(),
                           se.given() ? number(wald.lower) : QString(),
                           se.given() ? number(wald.upper) : QString(),
                           limit(profile, profile.lower),
                           limit(profile, profile.upper),
                           notes.join(QStringLiteral("; "))};
    };
    QList<QStringList> rows;
    rows << row(QStringLiteral("P"), block.P, se.seP, se.waldP, analysis.limitsP);
    if (block.sFree) {
        rows << row(QStringLiteral("S"), block.S, se.seS, se.waldS, analysis.limitsS);
    } else {
        rows << QStringList{QStringLiteral("S"),
                            text::plain(block.S),
                            {},
                            {},
                            {},
                            {},
                            {},
                            QStringLiteral("held at the value typed")};
    }
    return rows;
}

QString blockSentence(const BlockAnalysis& block, const QString& name,
                      std::optional<double> streetCount)
{
    const QString where =
        name.isEmpty() ? QStringLiteral("the block") : QStringLiteral("block %1").arg(name);
    const inference::Fit& fit = block.analysis.fit;
    if (fit.status != inference::FitStatus::Estimated) {
        return QStringLiteral("The counts of %1 do not give P and S: %2.")
            .arg(where, fromView(inference::describe(fit.status)));
    }
    const auto percent = [](double value) {
        return text::format(100.0 * value, QStringLiteral("0")) + QLatin1Char('%');
    };
    const auto between = [&percent](const inference::ProfileInterval& limits) {
        if (!limits.given()) {
            return QString();
        }
        const auto side = [&percent](const inference::Limit& limit) {
            return caption(limit, percent, percent);
        };
        return QStringLiteral(", between %1 and %2").arg(side(limits.lower), side(limits.upper));
    };
    const QString staying =
        block.sFree ? QStringLiteral("about %1 stay in the block from one count to the next (S%2)")
                          .arg(percent(block.S), between(block.analysis.limitsS))
                    : QStringLiteral("S was held at %1").arg(percent(block.S));
    QString sentence;
    inference::PopulationEstimate withCount;
    withCount.reason = "no street count";
    if (streetCount && streetCountProblem(block, *streetCount).isEmpty()) {
        withCount = inference::populationWithCount(*streetCount, block.analysis);
    }
    if (withCount.given() && std::isfinite(withCount.lower.value) &&
        std::isfinite(withCount.upper.value)) {
        const auto side = [](const inference::Limit& limit, const char* beyond) {
            return limit.open()
                       ? QStringLiteral("%1 %2").arg(QLatin1String(beyond), wholeDogs(limit.value))
                       : wholeDogs(limit.value);
        };
        sentence = QStringLiteral("About %1 dogs live in %2, between %3 and %4; on a count about "
                                  "%5 of them are seen (P%6), and %7.")
                       .arg(wholeDogs(withCount.estimate), where,
                            side(withCount.lower, "fewer than"), side(withCount.upper, "more than"),
                            percent(block.P), between(block.analysis.limitsP), staying);
    } else {
        sentence = QStringLiteral("On a count about %1 of the dogs in %2 are seen (P%3), and %4.")
                       .arg(percent(block.P), where, between(block.analysis.limitsP), staying);
    }
    if (!block.warnings.empty() || block.belowExactMaximum) {
        sentence += QStringLiteral(" Read the warnings before using these numbers.");
    }
    return sentence;
}

QStringList frequencyColumns()
{
    return {QStringLiteral("capture history"), QStringLiteral("observed"),
            QStringLiteral("expected")};
}

QList<QStringList> frequencyRows(const BlockAnalysis& block)
{
    static const std::array<QString, 4> histories{QStringLiteral("1,0,0"), QStringLiteral("1,1,1"),
                                                  QStringLiteral("1,0,1"), QStringLiteral("1,1,0")};
    const inference::Counts& counts = block.analysis.problem.counts;
    const std::array<std::int32_t, 4> observed{counts.n100, counts.n111, counts.n101, counts.n110};
    const inference::FitCheck& check = block.analysis.fitCheck;
    QList<QStringList> rows;
    for (std::size_t cell = 0; cell < 4; ++cell) {
        rows << QStringList{
            histories[cell], QString::number(observed[cell]),
            check.given() ? text::format(check.expected[cell], QStringLiteral("0.00")) : kDash};
    }
    return rows;
}

QString fitCheckSentence(const BlockAnalysis& block)
{
    const inference::FitCheck& check = block.analysis.fitCheck;
    if (!check.given()) {
        return QStringLiteral("No fit check: %1.").arg(fromView(check.reason));
    }
    return QStringLiteral("Likelihood ratio G² = %1, Pearson X² = %2, on %3 degree%4 of freedom: "
                          "p = %5 and %6.%7")
        .arg(fourDecimals(check.g2), fourDecimals(check.x2), QString::number(check.df),
             check.df == 1 ? QString() : QStringLiteral("s"), pValue(check.pG2), pValue(check.pX2),
             check.lowExpected ? QStringLiteral(" Some expected counts are below 2, so the "
                                                "p-values are rough.")
                               : QString());
}

QString meaningOfP()
{
    return QStringLiteral("P, the proportion seen: of the dogs in a block at the time of a count, "
                          "the share that the counters see.");
}

QString meaningOfS()
{
    return QStringLiteral("S, the proportion staying: of the dogs in a block at one count, the "
                          "share still there at the next.");
}

QString summarySentence(const BlockAnalysis& block)
{
    return QStringLiteral("Maximum log likelihood %1, with %2.")
        .arg(text::format(block.logLikelihood, QStringLiteral("0.000")),
             block.sFree
                 ? QStringLiteral("P and S estimated")
                 : QStringLiteral("S held at %1 and P estimated").arg(text::plain(block.S)));
}

} // namespace kestrum
