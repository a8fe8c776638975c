#include "NumberText.h"

#include "NumberCore.h"

namespace kestrum::text {

NumberLocale numberLocaleOf(const QLocale& locale)
{
    NumberLocale out;
    out.decimalPoint = locale.decimalPoint().toStdString();
    out.negativeSign = locale.negativeSign().toStdString();
    out.positiveSign = locale.positiveSign().toStdString();
    const QString zero = locale.zeroDigit();
    if (zero.size() == 1 && zero.at(0) != u'0' && zero.at(0).digitValue() == 0)
        out.zeroDigit = zero.at(0).unicode();
    return out;
}

namespace {

template <class T> Number<T> converted(const Converted<T>& number)
{
    return Number<T>{number.value, QString::fromUtf8(number.reason.data(),
                                                     static_cast<qsizetype>(number.reason.size()))};
}

} // namespace

// Qt's blanks are every Unicode space; the core trims ASCII ones only.
Number<double> toDouble(const QString& text, const QLocale& locale)
{
    return converted(readDouble(text.trimmed().toStdString(), numberLocaleOf(locale)));
}

Number<std::int32_t> toInt32(const QString& text, const QLocale& locale)
{
    return converted(readInt32(text.trimmed().toStdString(), numberLocaleOf(locale)));
}

QString format(double value, const QString& pattern, const QLocale& locale)
{
    return QString::fromStdString(
        formatNumber(value, pattern.toStdString(), numberLocaleOf(locale)));
}

QString plain(double value, const QLocale& locale)
{
    return QString::fromStdString(plainNumber(value, numberLocaleOf(locale)));
}

QString printForm(double value, const QLocale& locale)
{
    return QString::fromStdString(printFormOf(value, numberLocaleOf(locale)));
}

QString printForm(float value, const QLocale& locale)
{
    return QString::fromStdString(printFormOf(value, numberLocaleOf(locale)));
}

QString printForm(std::int32_t value)
{
    return (value < 0 ? QString() : QStringLiteral(" ")) + QString::number(value) + u' ';
}

} // namespace kestrum::text
