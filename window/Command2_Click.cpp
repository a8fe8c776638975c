// "simulate": the frequencies the model expects among 100 dogs for the P and S typed, written box
// by box. P and S are used as they stand, in range or not; only a value that cannot be computed
// (a square or product that overflows) stops the command, after the boxes already written.
#include <QMessageBox>

#include <cfenv>
#include <cmath>

#include "ExpectedFrequencies.h"
#include "Form1.h"
#include "NumberText.h"

namespace kestrum {

namespace {

constexpr int kFloatingPointErrors = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

const char* floatingPointErrorName(int raised)
{
    if ((raised & FE_OVERFLOW) != 0) {
        return "overflow";
    }
    if ((raised & FE_DIVBYZERO) != 0) {
        return "division by zero";
    }
    return "invalid operation";
}

} // namespace

void Form1::Command2_Click()
{
    const auto P = text::toDouble(txtP.text());
    if (!P) {
        refuse(txtP, QStringLiteral("P"), P.reason);
        return;
    }
    const auto S = text::toDouble(txtS.text());
    if (!S) {
        refuse(txtS, QStringLiteral("S"), S.reason);
        return;
    }

    struct Cell {
        std::size_t box;
        const char* history;
        double (*expected)(double, double);
    };
    static constexpr std::array<Cell, 4> cells{{{2, "1,1,1", expected111},
                                                {3, "1,0,1", expected101},
                                                {4, "1,1,0", expected110},
                                                {1, "1,0,0", expected100}}};
    for (const Cell& cell : cells) {
        std::feclearexcept(kFloatingPointErrors);
        // volatile: the value is complete before the flags are read.
        const volatile double value = cell.expected(*P.value, *S.value);
        const int raised = std::fetestexcept(kFloatingPointErrors);
        if (raised != 0 || !std::isfinite(value)) {
            QMessageBox message(
                QMessageBox::Warning, QStringLiteral("Kestrum"),
                QStringLiteral("The expected frequency of capture history %1 cannot be computed "
                               "for P = %2 and S = %3 (floating-point %4). The boxes before it "
                               "were filled; it and the ones after it were left as they were.")
                    .arg(QLatin1String(cell.history), txtP.text().trimmed(), txtS.text().trimmed(),
                         QLatin1String(raised != 0 ? floatingPointErrorName(raised) : "overflow")),
                QMessageBox::Ok, this);
            message.setObjectName(QStringLiteral("floatingPointProblem"));
            message.exec();
            return;
        }
        txtHist[cell.box].setText(text::plain(value));
    }
}

} // namespace kestrum
