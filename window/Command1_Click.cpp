// "estimate": from the window's values, build the model record, dump it, fit, write the estimates
// back, show the maximum log likelihood, then scan the profile and plot it.
#include <QMessageBox>

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

} // namespace

std::optional<EstimateInputs> Form1::readEstimateInputs()
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
    }
    const auto range = text::toDouble(txtHist[0].text());
    if (!range) {
        refuse(txtHist[0], QStringLiteral("The % plotting range"), range.reason);
        return std::nullopt;
    }
    inputs.rangePct = *range.value;
    return inputs;
}

void Form1::Command1_Click()
{
    const std::optional<EstimateInputs> inputs = readEstimateInputs();
    if (!inputs) {
        return;
    }
    EstimatePress press;
    QStringList notices;

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
    lastAnalysis_ = block;

    lblLimits.setText(limitsLine(*lastAnalysis_, profiled));
    lblLimits.setVisible(true);

    const inference::ProfileInterval& limits = lastAnalysis_->analysis.limits(profiled);
    std::vector<double> marks;
    for (const inference::Limit& limit : {limits.lower, limits.upper}) {
        if (limits.given() && limit.kind == inference::LimitKind::Found) {
            marks.push_back(limit.value * 100.0);
        }
    }
    PlotLimitMarks(picLL.canvas(), press.PROFLL, press.PROFPCT, NPTS, marks);
    notices << warningSentences(*lastAnalysis_);
    if (details_ && details_->isVisible()) {
        details_->show(lastAnalysis_);
    }
}

void Form1::PlotCurve(const PlotValues& YVALS, const PlotValues& XLABELS, std::int16_t NPOINTS,
                      const QString& TITLE, std::int16_t TITLETOP, Colour LINECOLOUR,
                      bool AUTOSCALE)
{
    kestrum::PlotCurve(picLL.canvas(), YVALS, XLABELS, NPOINTS, TITLE, TITLETOP, LINECOLOUR,
                       AUTOSCALE, optP.isChecked());
}

} // namespace kestrum
