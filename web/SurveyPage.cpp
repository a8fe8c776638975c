#include "SurveyPage.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "NumberCore.h"
#include "Survey.h"

namespace kestrum::web {

using nlohmann::json;
using namespace kestrum::survey;

namespace {

// A file of the page's own memory (emscripten's file system): the output and the messages are
// written to one as kestrum-estimate writes to its own, then read back.
class MemoryFile {
public:
    MemoryFile() : file_(std::tmpfile(), &std::fclose)
    {
        if (!file_) {
            throw std::runtime_error("no memory for the output");
        }
    }
    std::FILE* stream() const { return file_.get(); }
    int fd() const { return ::fileno(file_.get()); }
    std::string contents() const
    {
        std::fflush(file_.get());
        std::string text;
        char buffer[1 << 16];
        ::lseek(fd(), 0, SEEK_SET);
        for (ssize_t got; (got = ::read(fd(), buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        out.push_back(text.substr(from, end - from));
    }
    if (from < text.size()) {
        out.push_back(text.substr(from));
    }
    return out;
}

// The output's rows for the tables, read back with the survey's own reader; numbers in the
// browser's locale, as the shortest text that is the same double or to the digits asked for.
void tableOf(const std::string& csv, const text::NumberLocale& locale, json& answer)
{
    StringSource source(csv);
    RecordReader records(source);
    Record record;
    json header = json::array();
    json rows = json::array();
    json totals = json::array(); // the stratum and total rows as written, for the forest plot
    bool first = true;
    while (records.next(record)) {
        if (first) {
            header = record.fields;
            first = false;
            continue;
        }
        if (!record.fields.empty() && record.fields[0] != "block" && record.fields[0] != "pooled") {
            totals.push_back(record.fields);
        }
        json row = json::array();
        for (const std::string& field : record.fields) {
            const std::optional<double> number = readNumber(field, false);
            if (number && locale.decimalPoint != "." && field.find('.') != std::string::npos) {
                std::string shown = field;
                shown.replace(shown.find('.'), 1, locale.decimalPoint);
                row.push_back(shown);
            } else {
                row.push_back(field);
            }
        }
        rows.push_back(row);
    }
    answer["header"] = header;
    answer["rows"] = rows;
    answer["totals"] = totals;
}

} // namespace

std::string survey(const std::string& requestText)
{
    const json request = json::parse(requestText);
    text::NumberLocale locale;
    if (const auto found = request.find("locale"); found != request.end()) {
        locale.decimalPoint = found->value("decimalPoint", locale.decimalPoint);
    }
    json answer;
    SurveyOptions options;
    options.inputName = request.value("surveyName", std::string("survey.csv"));
    options.profiled =
        request.value("profileOfP", true) ? inference::Parameter::P : inference::Parameter::S;
    options.digits = request.value("digits", -1);
    const std::string pBy = request.value("pBy", std::string("stratum"));
    options.pBy = pBy == "block" ? PBy::Block : pBy == "survey" ? PBy::Survey : PBy::Stratum;
    // One thread: the page has no others, and the output is the same for any number.
    options.jobs = 1;
    try {
        const std::string blocks = request.value("blocks", std::string());
        if (!blocks.empty()) {
            options.frame = SamplingFrame::oneStratum(blocks);
        } else if (request.contains("frame") && request.at("frame").is_string()) {
            StringSource frame(request.at("frame").get<std::string>());
            options.frame =
                SamplingFrame::read(frame, request.value("frameName", std::string("frame.csv")));
        }
    } catch (const InputError& error) {
        answer["stopped"] = error.what();
        return answer.dump();
    }

    const MemoryFile output;
    const MemoryFile messages;
    StringSource input(request.at("survey").get<std::string>());
    RowSink sink(output.fd());
    Progress progress(messages.stream(), false, std::nullopt);
    try {
        const SurveySummary summary = runSurvey(input, sink, progress, options, nullptr);
        if (summary.anyPopulation) {
            progress.message("note: " + std::string(inference::populationCaveat()));
        }
        answer["summary"] = {{"fitted", summary.fitted},
                             {"failedRows", summary.failedRows},
                             {"failedSummaries", summary.failedSummaries}};
    } catch (const InputError& error) {
        answer["stopped"] = options.inputName + ": " + error.what();
    } catch (const std::exception& error) {
        answer["stopped"] = std::string("stopped: ") + error.what();
    }
    answer["csv"] = output.contents();
    answer["messages"] = lines(messages.contents());
    tableOf(answer["csv"].get<std::string>(), locale, answer);
    return answer.dump();
}

} // namespace kestrum::web
