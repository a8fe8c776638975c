#include "Form1.h"

#include "DetailsDialog.h"
#include "SurveyWindow.h"
#include "WindowIcon.h"

#include <QFont>
#include <QLayout>
#include <QMessageBox>
#include <QPalette>
#include <QStatusBar>

#include <algorithm>

namespace kestrum {

namespace {

// Positions and sizes are kept in twips; at 96 dpi 15 twips make a pixel, and Qt scales pixels
// for high-dpi screens itself.
constexpr int kTwipsPerPixel = 15;

void place(QWidget& control, int left, int top, int width, int height)
{
    control.setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                        height / kTwipsPerPixel);
}

// "MS Sans Serif" is not on free systems; Liberation Sans is the closest free sans-serif whose
// 8.25 pt and 9.75 pt bold fit every caption in its box.
QFont windowFont(double points, bool bold)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void caption(QLabel& label, const QString& text, bool bold = false)
{
    label.setText(text);
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bold) {
        label.setFont(windowFont(8.25, true));
    }
}

// A line of results: hidden until the first estimate fills it.
void resultLine(QLabel& label, int top)
{
    caption(label, QString());
    place(label, 3360, top, 3495, 255);
    label.setVisible(false);
}

constexpr QRgb kHelpBlue = qRgb(0, 0, 192);

} // namespace

const QString& Form1::helpText()
{
    static const QString text = QStringLiteral(
        "This program can be used to estimate the proportion of free-roaming dogs seen on a count "
        "of a city block.  A sample of individually distinct dogs are identified during the first "
        "count and the number seen during a second and third count recorded.  The frequency of the "
        "four possible resulting capture histories - not seen again, seen on both the second and "
        "third counts, seen on the third but not on the second, seen on the second but not on the "
        "third - are entered in the text boxes to the left.  Click the 'estimate' command button "
        "to generate ML estimates of proportion visible, P, and proportion remaining in block from "
        "one count to the next, S.  Read 95% confidence limits from intersection of dotted red "
        "line "
        "with ML curve.  Uncheck check box to see effect of loss of dogs from block on P estimate. "
        " "
        "Click 'simulate' command button to generate 100 expected capture histories corresponding "
        "to values set for P and S.");
    return text;
}

Form1::Form1(const QString& libraryName, QWidget* parent)
    : QMainWindow(parent), library_(libraryName)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(kestrumIcon());
    central_.setFont(windowFont(8.25, false));
    setCentralWidget(&central_);
    layOut();
    setTabOrder();
    buildMenus();
    statusBar()->setObjectName(QStringLiteral("statusLine"));
    messages_.setObjectName(QStringLiteral("messages"));
    messages_.setWordWrap(true);
    messages_.setTextFormat(Qt::PlainText);
    messages_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    messages_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addPermanentWidget(&messages_, 1);
    statusBar()->setSizeGripEnabled(false);

    connect(&Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(&Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    Form_Load();

    // The restored client area is 723 x 597 pixels; the bars of the frame come on top of it.
    layout()->activate();
    resize(QSize(723, 597) + (size() - central_.size()));
    txtHist[0].setFocus();
}

void Form1::Form_Load()
{
    Label10.setText(helpText());
}

void Form1::layOut()
{
    Command2.setObjectName(QStringLiteral("Command2"));
    Command2.setText(QStringLiteral("simulate"));
    place(Command2, 1680, 120, 1095, 255);

    Label10.setObjectName(QStringLiteral("Label10"));
    Label10.setText(QStringLiteral("Label10"));
    Label10.setTextFormat(Qt::PlainText);
    Label10.setWordWrap(true);
    Label10.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label10.setFont(windowFont(9.75, true));
    QPalette blue = Label10.palette();
    blue.setColor(QPalette::WindowText, QColor(kHelpBlue));
    Label10.setPalette(blue);
    place(Label10, 7080, 120, 7455, 3135);

    Label2.setObjectName(QStringLiteral("Label2"));
    caption(Label2, QStringLiteral("capture history"), true);
    place(Label2, 120, 600, 1335, 255);
    Label6.setObjectName(QStringLiteral("Label6"));
    caption(Label6, QStringLiteral("frequency"), true);
    place(Label6, 1800, 600, 855, 255);
    Label7.setObjectName(QStringLiteral("Label7"));
    caption(Label7, QStringLiteral("parameters"), true);
    place(Label7, 3360, 600, 975, 255);

    static constexpr std::array<int, 5> histTop{2925, 960, 1320, 1650, 2040};
    for (std::size_t k = 0; k < txtHist.size(); ++k) {
        txtHist[k].setObjectName(QStringLiteral("txtHist%1").arg(k));
        if (k == 0) {
            txtHist[k].setText(QStringLiteral("30"));
            place(txtHist[k], 4800, histTop[k], 375, 285);
        } else {
            place(txtHist[k], 1920, histTop[k], 495, 285);
        }
    }
    static constexpr std::array<int, 4> historyTop{990, 1335, 1695, 2040};
    static const std::array<QString, 4> histories{QStringLiteral("1,0,0"), QStringLiteral("1,1,1"),
                                                  QStringLiteral("1,0,1"), QStringLiteral("1,1,0")};
    for (std::size_t k = 0; k < Label1.size(); ++k) {
        Label1[k].setObjectName(QStringLiteral("Label1_%1").arg(k));
        caption(Label1[k], histories[k]);
        place(Label1[k], 480, historyTop[k], 735, 255);
    }

    txtP.setObjectName(QStringLiteral("txtP"));
    txtP.setText(QStringLiteral("0.9"));
    place(txtP, 3720, 1200, 735, 285);
    Label4.setObjectName(QStringLiteral("Label4"));
    caption(Label4, QStringLiteral("P"), true);
    place(Label4, 3360, 1230, 255, 255);

    txtS.setObjectName(QStringLiteral("txtS"));
    txtS.setText(QStringLiteral("0.9"));
    place(txtS, 3720, 1680, 735, 285);
    // Only the box shows: its own caption lies beyond its width, and Label8 stands beside it.
    chkS.setObjectName(QStringLiteral("chkS"));
    chkS.setText(QStringLiteral("Check1"));
    chkS.setChecked(true);
    place(chkS, 4560, 1680, 255, 255);
    Label8.setObjectName(QStringLiteral("Label8"));
    caption(Label8, QStringLiteral("include as free parameter"));
    place(Label8, 4920, 1680, 1935, 255);
    Label5.setObjectName(QStringLiteral("Label5"));
    caption(Label5, QStringLiteral("S"), true);
    place(Label5, 3360, 1710, 255, 255);

    Label9.setObjectName(QStringLiteral("Label9"));
    resultLine(Label9, 2160);

    Command1.setObjectName(QStringLiteral("Command1"));
    Command1.setText(QStringLiteral("estimate"));
    place(Command1, 240, 2880, 1095, 255);
    // Neither button answers Enter from another control.
    for (QPushButton* button : {&Command1, &Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    optP.setObjectName(QStringLiteral("optP"));
    optP.setText(QStringLiteral("error on P"));
    optP.setChecked(true);
    place(optP, 1800, 2880, 1215, 375);
    optS.setObjectName(QStringLiteral("optS"));
    optS.setText(QStringLiteral("error on S"));
    place(optS, 3360, 2880, 1215, 375);
    // Of the two option buttons only the selected one is a stop on the keyboard round.
    for (QRadioButton* option : {&optP, &optS}) {
        const auto takeFocusWhenSelected = [option](bool selected) {
            option->setFocusPolicy(selected ? Qt::StrongFocus : Qt::ClickFocus);
        };
        takeFocusWhenSelected(option->isChecked());
        connect(option, &QRadioButton::toggled, option, takeFocusWhenSelected);
    }

    Label3.setObjectName(QStringLiteral("Label3"));
    caption(Label3, QStringLiteral("% plotting range"));
    place(Label3, 5400, 2940, 1215, 255);

    // The exact limits, under the result line.
    lblLimits.setObjectName(QStringLiteral("lblLimits"));
    resultLine(lblLimits, 2430);

    picLL.setObjectName(QStringLiteral("picLL"));
    place(picLL, 240, 3360, 14295, 5775);
    picLL.setFocusPolicy(Qt::TabFocus);
}

void Form1::setTabOrder()
{
    // The keyboard order does not follow the layout: the frequency of 1,0,0 comes after the
    // parameters, and simulate comes last. Only the selected option button takes the focus.
    const std::array<QWidget*, 13> order{
        &txtHist[0], &txtHist[2], &txtHist[3], &Command1, &txtHist[4], &picLL,   &txtP,
        &txtS,       &chkS,       &txtHist[1], &optP,     &optS,       &Command2};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

void Form1::refuse(QLineEdit& box, const QString& boxName, const QString& problem)
{
    QMessageBox message(QMessageBox::Warning, QStringLiteral("Kestrum"),
                        QStringLiteral("%1 %2").arg(boxName, problem), QMessageBox::Ok, this);
    message.setObjectName(QStringLiteral("inputProblem"));
    message.exec();
    activateWindow();
    box.setFocus(Qt::OtherFocusReason);
    box.selectAll();
}

void Form1::showNotices(const QStringList& notices)
{
    lastMessages_ = notices;
    messages_.setText(notices.join(QLatin1Char('\n')));
    fitMessages();
}

void Form1::fitMessages()
{
    // The status bar sizes itself by the size hints of its widgets, which give a wrapping label
    // one line; room for every line is made here, from the width the label has.
    const int width = std::max(messages_.width(), 100);
    const int height =
        messages_.text().isEmpty()
            ? 0
            : messages_.fontMetrics()
                  .boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, messages_.text())
                  .height();
    messages_.setMinimumHeight(height);
    statusBar()->setMinimumHeight(height > 0 ? height + 2 * statusBar()->layout()->spacing() + 4
                                             : 0);
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    fitMessages();
}

} // namespace kestrum
