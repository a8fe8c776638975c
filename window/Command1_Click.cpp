// "estimate": from the window's values, build the model record, dump it, fit, write the estimates
// back, show the maximum log likelihood, then scan the profile and plot it.
#include <QMessageBox>

#include <cmath>

#include "DetailsDialog.h"
#include "Estimate.h"
#include "Form1.h"
#include "InferenceText.h"
#include "NumberText.h"
#include "PlotLimitMarks.h"
#include "ProfileScan.h"

namespace kestrum {

namespace {

constexpr Colour kCurveBlue = 0xC00000;

const std::array<QString, 4> kHistoryNames{QStringLiteral("1,0,0"), QStringLiteral("1,1,1"),
                                           QStringLiteral("1,0,1"), QStringLiteral("1,1,0")};

bool sameCounts(const inference::Counts& a, const inference::Counts& b)
{
    return a.n100 == b.n100 && a.n111 == b.n111 && a.n101 == b.n101 && a.n110 == b.n110;
}

// The scan's single-precision ends and step, as the hundredths and thousandths they stand for.
QString scanText(float value)
{
    return text::format(value, QStringLiteral("0.00#"));
}

} // namespace

std::optional<EstimateInputs> Form1::readEstimateInputs(QStringList& notices)
{
    EstimateInputs inputs;
    const auto proportion = [this](QLineEdit& box, const QString& name, double& value) {
        const auto number = text::toDouble(box.text());
        if (!number) {
            refuse(box, name, number.reason);
            return false;
        }
        if (!(*number.value > 0.0 && *number.value < 1.0)) {
            refuse(box, name, QStringLiteral("must lie strictly between 0 and 1"));
            return false;
        }
        value = *number.value;
        return true;
    };
    if (!proportion(txtS, QStringLiteral("S"), inputs.S) ||
        !proportion(txtP, QStringLiteral("P"), inputs.P)) {
        return std::nullopt;
    }
    QStringList rounded;
    for (std::size_t K = 1; K <= 4; ++K) {
        QLineEdit& box = txtHist[K];
        const QString name =
            QStringLiteral("The frequency of capture history %1").arg(kHistoryNames[K - 1]);
        const auto number = text::toInt32(box.text());
        if (!number) {
            refuse(box, name, number.reason);
            return std::nullopt;
        }
        if (*number.value < 0) {
            refuse(box, name, QStringLiteral("must not be negative"));
            return std::nullopt;
        }
        inputs.frequencies(K) = *number.value;
        if (const auto typed = text::toDouble(box.text()); typed && *typed.value != *number.value) {
            rounded << QStringLiteral("%1 of %2 as %3")
                           .arg(box.text().trimmed(), kHistoryNames[K - 1])
                           .arg(*number.value);
        }
    }
    if (inputs.frequencies(1) == 0 && inputs.frequencies(2) == 0 && inputs.frequencies(3) == 0 &&
        inputs.frequencies(4) == 0) {
        refuse(txtHist[1], QStringLiteral("The frequencies of the four capture histories"),
               QStringLiteral("are all 0: no dog seen again or not gives no estimate. Type how "
                              "many dogs had each history."));
        return std::nullopt;
    }
    const auto range = text::toDouble(txtHist[0].text());
    if (!range) {
        refuse(txtHist[0], QStringLiteral("The % plotting range"), range.reason);
        return std::nullopt;
    }
    if (!(std::isfinite(*range.value) && *range.value > 0.0)) {
        refuse(txtHist[0], QStringLiteral("The % plotting range"),
               QStringLiteral("must be a number greater than 0, such as 30."));
        return std::nullopt;
    }
    inputs.rangePct = *range.value;
    if (!rounded.isEmpty()) {
        notices << QStringLiteral("Frequencies are counts of dogs and were taken to the nearest "
                                  "whole number: %1.")
                       .arg(rounded.join(QStringLiteral(", ")));
    }
    return inputs;
}

void Form1::Command1_Click()
{
    QStringList notices;
    const std::optional<EstimateInputs> inputs = readEstimateInputs(notices);
    if (!inputs) {
        return;
    }
    EstimatePress press;

    // 1 to 7: the record, the scaled start and the bounds.
    BuildRecord(*inputs, chkS.checkState() == Qt::Checked, press, record_);

    // 8: the dump shows the record as the fit starts.
    WriteUserFile(notices);

    // 9: the fit; the library is bound at the first press and stays loaded.
    const KestrumN_E04JYF N_E04JYF = library_.entryPoint();
    if (N_E04JYF == nullptr) {
        QMessageBox message(QMessageBox::Critical, QStringLiteral("Kestrum"), library_.error(),
                            QMessageBox::Ok, this);
        message.setObjectName(QStringLiteral("libraryProblem"));
        message.exec();
        return;
    }
    Fit(press, record_, N_E04JYF);
    if (press.IFAIL != KESTRUM_IFAIL_CONVERGED) {
        notices << QStringLiteral("The search did not converge (code %1); the estimates shown are "
                                  "the best point it found.")
                       .arg(press.IFAIL);
    }

    // 10: back to unscaled values.
    BackTransform(press);
    const bool sFree = chkS.checkState() == Qt::Checked;
    const bool profileOfP = optP.isChecked();
    BlockAnalysis block = analyseBlock(
        press, *inputs, sFree, profileOfP ? inference::Parameter::P : inference::Parameter::S);

    // 11: the estimates, which the next press starts from.
    txtS.setText(text::format(press.PARMS(1), QStringLiteral("0.##")));
    txtP.setText(text::format(press.PARMS(2), QStringLiteral("0.##")));

    // 12: the scan's range and step around the estimate of the parameter of interest.
    press.RANGEPCT = inputs->rangePct;
    ScanRange(press, profileOfP ? press.PARMS(2) : press.PARMS(1));

    // 13: the result line, before the scan overwrites F.
    Label9.setText(QStringLiteral("maximum log likelihood = ") +
                   text::format(-press.F, QStringLiteral("0.000")));
    Label9.setVisible(true);

    // 14: the profile and its plot.
    const int unconverged = ScanProfile(press, record_, profileOfP, NPTS, N_E04JYF);
    if (unconverged > 0) {
        notices << QStringLiteral("%1 of %2 profile points did not converge.")
                       .arg(unconverged)
                       .arg(NPTS);
    }
    picLL.canvas().Cls();
    PlotCurve(press.PROFLL, press.PROFPCT, NPTS, QStringLiteral("log likelihood"), 10, kCurveBlue,
              true);
    showInference(press, block, notices);
    showNotices(notices);
}

void Form1::showInference(const EstimatePress& press, BlockAnalysis& block, QStringList& notices)
{
    const inference::Parameter profiled = block.analysis.problem.profiled;
    noteProfile(block, std::span<const float>(press.PROFLL.data(), static_cast<std::size_t>(NPTS)));
    // A street count, a name and notes were typed for the block estimated before; other
    // frequencies are another block, whose report must not carry them.
    if (details_ && lastAnalysis_ &&
        !sameCounts(lastAnalysis_->analysis.problem.counts, block.analysis.problem.counts)) {
        details_->clearBlock();
    }
    lastAnalysis_ = block;

    lblLimits.setText(limitsLine(*lastAnalysis_, profiled));
    lblLimits.setVisible(true);

    const inference::ProfileInterval& limits = lastAnalysis_->analysis.limits(profiled);
    std::vector<double> marks;
    QStringList markNames;
    for (const auto& [limit, name] : {std::pair{limits.lower, QStringLiteral("lower")},
                                      std::pair{limits.upper, QStringLiteral("upper")}}) {
        if (limits.given() && limit.kind == inference::LimitKind::Found) {
            marks.push_back(limit.value * 100.0);
            markNames << name;
        }
    }
    notePlot(press, marks, PlotLimitMarks(picLL.canvas(), press.PROFLL, press.PROFPCT, NPTS, marks),
             markNames, notices);
    notices << warningSentences(*lastAnalysis_);

    // Kept to draw the same plot again for a PDF or a printer.
    lastPlot_ = ProfilePlot{press.PROFLL, press.PROFPCT,    NPTS, "log likelihood", 10,
                            kCurveBlue,   optP.isChecked(), marks};
    lastRangePct_ = press.RANGEPCT;
    lastWhen_ = QDateTime::currentDateTime();
    if (details_ && details_->isVisible()) {
        details_->show(lastAnalysis_);
    }
}

void Form1::notePlot(const EstimatePress& press, const std::vector<double>& limitsPct,
                     const std::vector<LimitMark>& marks, const QStringList& markNames,
                     QStringList& notices)
{
    const QString parameter = optP.isChecked() ? QStringLiteral("P") : QStringLiteral("S");
    if (NPTS < 2) {
        notices << QStringLiteral("The plot is empty: the profile of %1 from %2 to %3 in steps of "
                                  "%4 has %5 point%6, and a curve needs two. A wider % plotting "
                                  "range, or profiling the other parameter, gives more.")
                       .arg(parameter, scanText(press.SCANLO), scanText(press.SCANHI),
                            scanText(press.SCANSTEP), QString::number(NPTS),
                            NPTS == 1 ? QString() : QStringLiteral("s"));
        return;
    }
    if (!plotScale(picLL.canvas(), press.PROFLL, NPTS)) {
        notices << QStringLiteral("The plot is empty: the profile log likelihood of %1 has the "
                                  "same value at every point of the range, so there is no curve "
                                  "to scale. A wider % plotting range may show one.")
                       .arg(parameter);
        return;
    }
    QStringList offCurve;
    QStringList outside;
    std::vector<double> outsidePct;
    for (qsizetype i = 0; i < std::ssize(marks) && i < markNames.size(); ++i) {
        const LimitMark mark = marks[static_cast<std::size_t>(i)];
        if (mark == LimitMark::OffCurve) {
            offCurve << markNames[i];
        } else if (mark == LimitMark::OutsidePlot) {
            outside << markNames[i];
            outsidePct.push_back(limitsPct[static_cast<std::size_t>(i)]);
        }
    }
    const auto which = [](const QStringList& sides) {
        return sides.size() == 1 ? QStringLiteral("The mark of the %1 limit is").arg(sides[0])
                                 : QStringLiteral("The marks of both limits are");
    };
    if (!offCurve.isEmpty()) {
        notices << QStringLiteral("%1 not drawn: the dashed line lies 1.92 below the highest point "
                                  "plotted, not below the maximum likelihood%2, so the curve "
                                  "meets it away from the exact limits given under the result "
                                  "line.")
                       .arg(which(offCurve), lastAnalysis_->warnings.contains(
                                                 inference::WarningKind::EstimateOnBound)
                                                 ? QStringLiteral(", which lies on a bound")
                                                 : QString());
    }
    if (outside.isEmpty()) {
        return;
    }
    // Advice only where it helps: the range that plots the limit, when there is one.
    const double estimate = optP.isChecked() ? press.PARMS(2) : press.PARMS(1);
    const ScanReach together = ReachOfScans(estimate, press.RANGEPCT, outsidePct);
    if (together.rangePct) {
        notices << QStringLiteral("%1 not drawn: outside the range plotted. A % plotting range of "
                                  "%2 plots %3.")
                       .arg(which(outside), QString::number(*together.rangePct),
                            outside.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
        return;
    }
    for (qsizetype i = 0; i < outside.size(); ++i) {
        const double limit = outsidePct[static_cast<std::size_t>(i)];
        const ScanReach alone = outside.size() == 1
                                    ? together
                                    : ReachOfScans(estimate, press.RANGEPCT, std::span(&limit, 1));
        if (alone.rangePct) {
            notices << QStringLiteral("%1 not drawn: outside the range plotted. A % plotting range "
                                      "of %2 plots it.")
                           .arg(which({outside[i]}), QString::number(*alone.rangePct));
        } else if (limit > alone.highest) {
            notices << QStringLiteral("%1 not drawn: the limit, %2, lies above %3, the highest "
                                      "value the profile is plotted at with any % plotting range "
                                      "(the scan stays below its bound of 0.99).")
                           .arg(which({outside[i]}),
                                text::format(limit / 100.0, QStringLiteral("0.0000")),
                                text::format(alone.highest / 100.0, QStringLiteral("0.00")));
        } else {
            notices << QStringLiteral("%1 not drawn: the limit, %2, lies below %3, the lowest "
                                      "value the profile is plotted at with any % plotting range.")
                           .arg(which({outside[i]}),
                                text::format(limit / 100.0, QStringLiteral("0.0000")),
                                text::format(alone.lowest / 100.0, QStringLiteral("0.00")));
        }
    }
}

void Form1::PlotCurve(const PlotValues& YVALS, const PlotValues& XLABELS, std::int16_t NPOINTS,
                      const QString& TITLE, std::int16_t TITLETOP, Colour LINECOLOUR,
                      bool AUTOSCALE)
{
    kestrum::PlotCurve(picLL.canvas(), YVALS, XLABELS, NPOINTS, TITLE.toStdString(), TITLETOP,
                       LINECOLOUR, AUTOSCALE, optP.isChecked());
}

} // namespace kestrum
