// What a survey is, for the first page of its report: its name, place, dates and team, typed in a
// form of the survey window and kept beside the survey in a small file of its own,
// NAME.description.json for NAME.csv, so that it comes back with the survey.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QString>

namespace kestrum {

struct SurveyDescription {
    QString name;
    QString place;
    QString dates;
    QString team;

    friend bool operator==(const SurveyDescription&, const SurveyDescription&) = default;
};

QString descriptionFile(const QString& survey);
// Empty when there is no such file or it cannot be read as one.
SurveyDescription readDescription(const QString& survey);
// Written whole or not at all; returns why it could not be, or nothing.
QString writeDescription(const QString& survey, const SurveyDescription& description);

class DescriptionDialog : public QDialog {
    Q_OBJECT

public:
    explicit DescriptionDialog(const SurveyDescription& description, QWidget* parent = nullptr);
    SurveyDescription description() const;

private:
    QLineEdit name_;
    QLineEdit place_;
    QLineEdit dates_;
    QLineEdit team_;
};

} // namespace kestrum
