#include "Request.h"

#include <string>

#include "SurveyReader.h"

namespace kestrum::web {

text::NumberLocale localeOf(const nlohmann::json& request)
{
    text::NumberLocale locale;
    if (const auto found = request.find("locale"); found != request.end() && found->is_object()) {
        locale.decimalPoint = found->value("decimalPoint", locale.decimalPoint);
        locale.negativeSign = found->value("negativeSign", locale.negativeSign);
        locale.positiveSign = found->value("positiveSign", locale.positiveSign);
    }
    return locale;
}

std::variant<int, std::string_view> digitsOf(const nlohmann::json& request,
                                             const text::NumberLocale& locale)
{
    const auto found = request.find("digits");
    if (found == request.end() || found->is_null()) {
        return -1;
    }
    std::optional<int> digits;
    if (found->is_number_integer()) {
        digits = found->get<int>();
    } else if (found->is_string()) {
        const std::string typed = found->get<std::string>();
        if (typed.find_first_not_of(" \t") == std::string::npos) {
            return -1;
        }
        const auto number = text::readInt32(typed, locale);
        const auto asTyped = text::readDouble(typed, locale);
        if (number && asTyped && *asTyped.value == *number.value) {
            digits = *number.value;
        }
    }
    if (!digits || *digits < 0 || *digits > 15) {
        return std::string_view("must be a whole number from 0 to 15");
    }
    return *digits;
}

std::string shownInLocale(std::string field, const text::NumberLocale& locale)
{
    if (locale.decimalPoint == ".") {
        return field;
    }
    if (const std::size_t point = field.find('.');
        point != std::string::npos && survey::readNumber(field, false)) {
        field.replace(point, 1, locale.decimalPoint);
    }
    return field;
}

} // namespace kestrum::web
