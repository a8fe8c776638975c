// Analysis > Plan a survey...: the survey planner of kestrum-plan as a form. The strata are typed
// into a table or loaded from a plan file; the goal is a half-width wanted or the blocks the teams
// can count; "Plan" fills the table of blocks to count per stratum with the expected limits and
// team-days, and draws the curve of half-width against blocks counted. The plan saves as the
// program's CSV, the curve as PNG or PDF.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include <optional>
#include <vector>

#include "PictureBox.h"
#include "PlanCurveFiles.h"
#include "SurveyPlan.h"

namespace kestrum {

class PlanDialog : public QDialog {
    Q_OBJECT

public:
    explicit PlanDialog(QWidget* parent = nullptr);

    // The commands, callable with a file name where they would ask for one. Each returns why it
    // failed, or nothing.
    QString loadPlan(const QString& path);
    QString savePlan(const QString& path);
    // ".pdf" a PDF page drawn as vectors; anything else a PNG image.
    QString saveCurve(const QString& path);
    // Reads the form and plans, or says in the message line what stops it.
    void plan();

    const std::optional<survey::SurveyPlan>& lastPlan() const { return plan_; }

private:
    // The strata as typed; the first problem in the message line and nothing when one is wrong.
    std::optional<std::vector<survey::PlanStratum>> readStrata();
    std::optional<survey::PlanGoal> readGoal();
    void refuse(const QString& problem);
    void showPlan();
    void addStratum(const QStringList& cells = {});
    // Asks for a file name and runs the command on it, saying why when it failed.
    void ask(const QString& title, const QString& filters, bool save,
             QString (PlanDialog::*command)(const QString&));

    QTableWidget strata_;
    QPushButton add_;
    QPushButton remove_;
    QPushButton load_;
    QRadioButton byTarget_;
    QRadioButton byBudget_;
    QLineEdit target_;
    QLineEdit budget_;
    QLineEdit perDay_;
    QPushButton planButton_;
    QLabel message_;
    QTableWidget results_;
    PictureBox curve_;
    QPushButton saveCurve_;
    QPushButton savePlan_;
    std::optional<survey::SurveyPlan> plan_;
    PlanCurve drawn_;
};

} // namespace kestrum
