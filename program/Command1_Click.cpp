// "estimate": from the window's values, build the model record, dump it, fit, write the estimates
// back, show the maximum log likelihood, then scan the profile and plot it.
#include <QMessageBox>

#include "Form1.h"
#include "NumberText.h"
#include "ProfileScan.h"

namespace kestrum {

namespace {

constexpr double kScaleFactor = 1.0;
constexpr double kLowerBound = 0.01;
constexpr double kUpperBound = 0.99;
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
    auto& PARMS = press.PARMS;
    auto& FACT = press.FACT;
    auto& LOWER = press.LOWER;
    auto& UPPER = press.UPPER;
    auto& IFREE = press.IFREE;
    auto& N = press.N;
    auto& XC = press.XC;
    auto& BL = press.BL;
    auto& BU = press.BU;
    auto& F = press.F;
    auto& IFAIL = press.IFAIL;
    auto& [IUSER, USER, NIUSER, NUSER] = record_;
    QStringList notices;

    // 1, 2: S and P with their scale factors and bounds.
    PARMS(1) = inputs->S;
    FACT(1) = kScaleFactor;
    LOWER(1) = kLowerBound;
    UPPER(1) = kUpperBound;
    PARMS(2) = inputs->P;
    FACT(2) = kScaleFactor;
    LOWER(2) = kLowerBound;
    UPPER(2) = kUpperBound;

    // 3: P is always free; S only when the box is checked.
    if (chkS.checkState() == Qt::Checked) {
        N = 2;
        IFREE(1) = KESTRUM_PARAM_S;
        IFREE(2) = KESTRUM_PARAM_P;
    } else {
        N = 1;
        IFREE(1) = KESTRUM_PARAM_P;
    }

    // 4: the free list into the record.
    IUSER(KESTRUM_IUSER_NFREE) = N;
    for (std::int32_t I = 1; I <= N; ++I) {
        IUSER(I + 1) = IFREE(I);
    }

    // 5: the frequencies, stored before the index moves on.
    NIUSER = KESTRUM_IUSER_HIST;
    for (std::size_t K = 1; K <= 4; ++K) {
        IUSER(NIUSER) = inputs->frequencies(K);
        NIUSER = NIUSER + 1;
    }

    // 6: the reals, the index moved on before each store.
    NUSER = 0;
    for (std::size_t I = 1; I <= 2; ++I) {
        for (const double value : {PARMS(I), FACT(I), LOWER(I), UPPER(I)}) {
            NUSER = NUSER + 1;
            USER(NUSER) = value;
        }
    }

    // 7: scaled start and bounds, in the order the minimiser sees the parameters.
    for (std::int32_t I = 1; I <= N; ++I) {
        const auto J = static_cast<std::size_t>(IFREE(I));
        XC(I) = FACT(J) * PARMS(J);
        BL(I) = LOWER(J) * FACT(J);
        BU(I) = UPPER(J) * FACT(J);
    }

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
    press.LIW = KESTRUM_LIW;
    press.LW = KESTRUM_LW;
    IFAIL = 1;
    press.IBOUND = 0;
    N_E04JYF(&N, &press.IBOUND, BL.data(), BU.data(), XC.data(), &F, press.IW.data(), &press.LIW,
             press.W.data(), &press.LW, IUSER.data(), USER.data(), &IFAIL);
    if (IFAIL != KESTRUM_IFAIL_CONVERGED) {
        notices << QStringLiteral("The search did not converge (code %1); the estimates shown are "
                                  "the best point it found.")
                       .arg(IFAIL);
    }

    // 10: back to unscaled values; a fixed S keeps the value read.
    for (std::int32_t I = 1; I <= N; ++I) {
        const auto J = static_cast<std::size_t>(IFREE(I));
        PARMS(J) = XC(I) / FACT(J);
    }

    // 11: the estimates, which the next press starts from.
    txtS.setText(text::format(PARMS(1), QStringLiteral("0.##")));
    txtP.setText(text::format(PARMS(2), QStringLiteral("0.##")));

    // 12: the scan's range and step around the estimate of the parameter of interest.
    const bool profileOfP = optP.isChecked();
    press.RANGEPCT = inputs->rangePct;
    ScanRange(press, profileOfP ? PARMS(2) : PARMS(1));

    // 13: the result line, before the scan overwrites F.
    Label9.setText(QStringLiteral("maximum log likelihood = ") +
                   text::format(-F, QStringLiteral("0.000")));
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
