// The program's one window: the four capture-history frequencies, starting values of P and S, the
// choice of free parameters and of the profiled one, the result line, the profile plot and the help
// text. Controls sit at fixed positions given in twips (15 to the pixel at 96 dpi) and never move.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "BlockAnalysis.h"
#include "EstimatePress.h"
#include "LibraryBinding.h"
#include "ModelRecord.h"
#include "PictureBox.h"
#include "PlotCurve.h"
#include "Report.h"

namespace kestrum {

class DetailsDialog;
class SurveyWindow;
struct SurveyBlockChoice;

class Form1 : public QMainWindow {
    Q_OBJECT

public:
    // libraryName: the estimation library to bind at the first estimate (tests name others).
    explicit Form1(const QString& libraryName = QStringLiteral("Kestrum"),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // The model record and its fill counters, and the profile's point count, as the last estimate
    // left them.
    const ModelRecord& record() const { return record_; }
    std::int16_t profilePoints() const { return NPTS; }

    static const QString& helpText();

    // What the last estimate found, for the details, the report and the saved plot; empty before.
    const std::optional<BlockAnalysis>& lastAnalysis() const { return lastAnalysis_; }
    const QImage& plotImage() const { return picLL.image(); }

    // The menu commands, callable with a file name where they would ask for one. Each returns
    // why it failed, or nothing.
    QString savePlot(const QString& path);
    QString saveReport(const QString& path);
    void showDetails();
    // Puts the plain-text summary of the last estimate on the clipboard and returns it (empty
    // before the first estimate).
    QString copyResults();
    // What the report holds now: the last estimate, its messages, the street count in the details.
    std::optional<ReportContent> reportContent() const;

    // File > Open survey...: the survey in a window of its own (the one it is in already, if any).
    SurveyWindow* openSurvey(const QString& path);
    // A block taken up from a survey: its frequencies (and S held) in the boxes, estimated from
    // the starting values the survey tool uses, with its name and street count in the details.
    void estimateSurveyBlock(const SurveyBlockChoice& choice);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Estimate, scan and plot.
    void Command1_Click();
    // Expected frequencies out of 100 for the P and S entered.
    void Command2_Click();
    void Form_Load();
    void WriteUserFile(QStringList& notices);
    void PlotCurve(const PlotValues& YVALS, const PlotValues& XLABELS, std::int16_t NPOINTS,
                   const QString& TITLE, std::int16_t TITLETOP, Colour LINECOLOUR, bool AUTOSCALE);

    // Reads and checks every box a press uses; refuses the first that is wrong.
    std::optional<EstimateInputs> readEstimateInputs(QStringList& notices);
    void layOut();
    void buildMenus();
    // After the plot: the exact limits under the result line and as marks on the plot, and what
    // the user should be warned of.
    void showInference(const EstimatePress& press, BlockAnalysis& block, QStringList& notices);
    // Asks for a file name and saves there, saying why when it could not.
    void saveAs(const QString& what, const QString& filters,
                QString (Form1::*save)(const QString&));
    void setTabOrder();
    // Stops a command: says what is wrong with a box and puts the focus there, text selected.
    void refuse(QLineEdit& box, const QString& boxName, const QString& problem);
    void showNotices(const QStringList& notices);
    void fitMessages();
    // Why the plot is empty or a limit mark is missing, in words.
    void notePlot(const EstimatePress& press, const std::vector<double>& limitsPct,
                  const std::vector<LimitMark>& marks, const QStringList& markNames,
                  QStringList& notices);
    void printReport();
    // Version, purpose, copyright and licence.
    void showAbout();

    QWidget central_;
    QPushButton Command2{&central_};
    QLabel Label10{&central_};
    QLabel Label2{&central_};
    QLabel Label6{&central_};
    QLabel Label7{&central_};
    std::array<QLineEdit, 5> txtHist{QLineEdit{&central_}, QLineEdit{&central_},
                                     QLineEdit{&central_}, QLineEdit{&central_},
                                     QLineEdit{&central_}};
    std::array<QLabel, 4> Label1{QLabel{&central_}, QLabel{&central_}, QLabel{&central_},
                                 QLabel{&central_}};
    QLineEdit txtP{&central_};
    QLabel Label4{&central_};
    QLineEdit txtS{&central_};
    QCheckBox chkS{&central_};
    QLabel Label8{&central_};
    QLabel Label5{&central_};
    QLabel Label9{&central_};
    QPushButton Command1{&central_};
    QRadioButton optP{&central_};
    QRadioButton optS{&central_};
    QLabel Label3{&central_};
    PictureBox picLL{&central_};
    QLabel lblLimits{&central_};
    // Below the client area, in the status bar: every message of the last press, wrapped, until
    // the next press. A permanent widget, so menus and tips do not wipe it.
    QLabel messages_;

    // Kept from one press to the next.
    ModelRecord record_;
    std::int16_t NPTS = 0;

    LibraryBinding library_;
    std::optional<BlockAnalysis> lastAnalysis_;
    ProfilePlot lastPlot_;
    double lastRangePct_ = 0.0;
    QStringList lastMessages_;
    QDateTime lastWhen_;
    std::unique_ptr<DetailsDialog> details_;
    std::vector<std::unique_ptr<SurveyWindow>> surveys_;
};

} // namespace kestrum
