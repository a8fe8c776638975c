// A survey in a window of its own: every row of the file in a table that sorts, the strata and the
// city with their totals, the forest plot, the survey's report and its rows as kestrum-estimate
// writes them. Reading and fitting run off the window's thread, with a progress bar and Cancel, so
// the window answers while a large survey opens. A double-click on a block estimates it in the
// main window, where its profile shows.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>

#include <memory>
#include <optional>

#include "CityReport.h"
#include "ForestView.h"
#include "SurveyDescription.h"
#include "SurveyLoad.h"
#include "SurveyTableModel.h"

class QActionGroup;

namespace kestrum {

// A block of the survey as the main window takes it up.
struct SurveyBlockChoice {
    QString block;
    inference::Counts counts;
    std::optional<double> sFixed;
    std::optional<double> count;
    QString source; // "city.csv, line 3"
    SurveyDescription survey;
};

class SurveyWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit SurveyWindow(QWidget* parent = nullptr);
    ~SurveyWindow() override;

    // Reads the survey, with the frame beside it when there is one, and its description.
    void openSurvey(const QString& path);
    // Fits the survey again with this frame; none without one.
    void openFrame(const std::optional<QString>& path);
    void setPBy(survey::PBy by);
    // The share of dogs marked that the dogs still to vaccinate are counted towards.
    void setCoverageTarget(double share);

    const SurveySettings& settings() const { return settings_; }
    bool busy() const { return job_ != nullptr; }
    // The last run that ended; nullptr before.
    const LoadedSurvey* survey() const { return loaded_.get(); }
    const SurveyDescription& description() const { return description_; }
    // Keeps the description beside the survey; why it could not, or nothing.
    QString setDescription(const SurveyDescription& description);

    // The menu commands, with a file name where they would ask for one; each returns why it
    // failed, or nothing.
    QString exportResults(const QString& path);
    QString saveReport(const QString& path);
    std::optional<CityReportContent> reportContent() const;

    // The block at this row of the table, as a double-click takes it to the main window.
    void chooseRow(int row);

signals:
    void blockChosen(const kestrum::SurveyBlockChoice& choice);
    // A run has ended: read to its end, stopped or cancelled.
    void runEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void layOut();
    void start();
    void progressed(quint64 run, double share, quint64 blocks);
    void finished(quint64 run);
    void present(std::shared_ptr<const LoadedSurvey> loaded);
    void setBusy(bool busy);
    void saveAs(const QString& what, const QString& filters, const QString& suggested,
                QString (SurveyWindow::*save)(const QString&));
    void printReport();
    void editDescription();
    void chooseSurvey();
    void chooseFrame();
    void chooseCoverageTarget();
    void warn(const QString& text);

    SurveySettings settings_;
    SurveyDescription description_;
    quint64 runs_ = 0;
    std::unique_ptr<SurveyJob> job_;
    std::shared_ptr<const LoadedSurvey> loaded_;

    // Containers before what they hold: members go in reverse order, and a container takes its
    // children with it.
    QWidget central_;
    QSplitter across_{Qt::Horizontal};
    QSplitter down_{Qt::Vertical};
    QWidget strataPanel_;
    QLabel summary_;
    SurveyTableModel model_;
    QTableView blocks_;
    QTableWidget strata_;
    QTextBrowser notes_;
    ForestView forest_;
    QLabel status_;
    QProgressBar progress_;
    QPushButton cancel_;
    QList<QAction*> needResults_;
    QActionGroup* pBy_ = nullptr;
};

} // namespace kestrum
