#include "SurveyDescription.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

#include <memory>

#include "WholeFile.h"

namespace kestrum {

namespace {

// A layout or widget handed to the parent named in its arguments, which owns it from then on.
template <class T, class... Args> T* child(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

} // namespace

QString descriptionFile(const QString& survey)
{
    const QFileInfo file(survey);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral(".description.json"));
}

SurveyDescription readDescription(const QString& survey)
{
    QFile file(descriptionFile(survey));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // A few lines of text: anything longer is not this file.
    const QJsonObject object = QJsonDocument::fromJson(file.read(1 << 20)).object();
    return {object.value(QStringLiteral("name")).toString(),
            object.value(QStringLiteral("place")).toString(),
            object.value(QStringLiteral("dates")).toString(),
            object.value(QStringLiteral("team")).toString()};
}

QString writeDescription(const QString& survey, const SurveyDescription& description)
{
    const QJsonObject object{{QStringLiteral("name"), description.name},
                             {QStringLiteral("place"), description.place},
                             {QStringLiteral("dates"), description.dates},
                             {QStringLiteral("team"), description.team}};
    return writeWholeFile(descriptionFile(survey), QJsonDocument(object).toJson());
}

DescriptionDialog::DescriptionDialog(const SurveyDescription& description, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("description"));
    setWindowTitle(QStringLiteral("Kestrum: about the survey"));
    const std::pair<QLineEdit*, QString> fields[] = {{&name_, QStringLiteral("surveyName")},
                                                     {&place_, QStringLiteral("surveyPlace")},
                                                     {&dates_, QStringLiteral("surveyDates")},
                                                     {&team_, QStringLiteral("surveyTeam")}};
    for (const auto& [field, name] : fields) {
        field->setObjectName(name);
        field->setMinimumWidth(320);
    }
    name_.setText(description.name);
    place_.setText(description.place);
    dates_.setText(description.dates);
    team_.setText(description.team);
    name_.setPlaceholderText(QStringLiteral("Dog survey 2026"));
    place_.setPlaceholderText(QStringLiteral("the city, district or area surveyed"));
    dates_.setPlaceholderText(QStringLiteral("12 to 14 March 2026"));
    team_.setPlaceholderText(QStringLiteral("who counted, and who to ask"));

    auto* form = child<QFormLayout>(this);
    auto* intro =
        child<QLabel>(QStringLiteral("Shown on the first page of the survey's report, "
                                     "and kept beside the survey in %1.")
                          .arg(QFileInfo(descriptionFile(QStringLiteral("NAME.csv"))).fileName()),
                      this);
    intro->setWordWrap(true);
    form->addRow(intro);
    form->addRow(QStringLiteral("Survey:"), &name_);
    form->addRow(QStringLiteral("Place:"), &place_);
    form->addRow(QStringLiteral("Dates:"), &dates_);
    form->addRow(QStringLiteral("Team:"), &team_);
    auto* buttons =
        child<QDialogButtonBox>(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

SurveyDescription DescriptionDialog::description() const
{
    return {name_.text().trimmed(), place_.text().trimmed(), dates_.text().trimmed(),
            team_.text().trimmed()};
}

} // namespace kestrum
