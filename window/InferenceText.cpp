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
    return QStringLiteral("About %1 dogs (95% limits %2 to %3). %4")
        .arg(dogs(estimate.estimate), caption(estimate.lower, dogs, dogs),
             caption(estimate.upper, dogs, dogs), fromView(inference::populationCaveat()));
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

QString summarySentence(const BlockAnalysis& block)
{
    return QStringLiteral("Maximum log likelihood %1, with %2.")
        .arg(text::format(block.logLikelihood, QStringLiteral("0.000")),
             block.sFree
                 ? QStringLiteral("P and S estimated")
                 : QStringLiteral("S held at %1 and P estimated").arg(text::plain(block.S)));
}

} // namespace kestrum
