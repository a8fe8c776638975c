// "estimate": from the window's values, build the model record, dump it, fit, write the estimates
// back, show the maximum log likelihood, then scan the profile and plot it.
#include <QMessageBox>

#include "Form1.h"
#include "Estimate.h"
#include "NumberText.h"
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

    // 11: the estimates, which the next press starts from.
    txtS.setText(text::format(press.PARMS(1), QStringLiteral("0.##")));
    txtP.setText(text::format(press.PARMS(2), QStringLiteral("0.##")));

    // 12: the scan's range and step around the estimate of the parameter of interest.
    const bool profileOfP = optP.isChecked();
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
    PlotCurve(press.PROFLL, press.PROFPCT, NPTS, QStringLiteral("log likelihood"), 10, kCurveBlue, true);
    showNotices(notices);
}

void Form1::PlotCurve(const PlotValues& YVALS, const PlotValues& XLABELS, std::int16_t NPOINTS,
                      const QString& TITLE, std::int16_t TITLETOP, Colour LINECOLOUR, bool AUTOSCALE)
{
    kestrum::PlotCurve(picLL.canvas(), YVALS, XLABELS, NPOINTS, TITLE, TITLETOP, LINECOLOUR,
                       AUTOSCALE, optP.isChecked());
}

} // namespace kestrum
