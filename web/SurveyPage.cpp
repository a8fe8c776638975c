#include "SurveyPage.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "NumberCore.h"
#include "Request.h"
#include "Survey.h"
#include "SurveyForest.h"
#include "SurveyResults.h"

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
void tableOf(const std::string& csv, const text::NumberLocale& locale, json& answer,
             std::string& table)
{
    StringSource source(csv);
    RecordReader records(source);
    Record record;
    json header = json::array();
    bool first = true;
    while (records.next(record)) {
        if (first) {
            header = record.fields;
            first = false;
            continue;
        }
        for (std::string& field : record.fields) {
            std::replace_if(
                field.begin(), field.end(), [](char c) { return c == '\x1e' || c == '\x1f'; }, ' ');
            table += shownInLocale(std::move(field), locale);
            table += '\x1f';
        }
        table += '\x1e';
    }
    answer["header"] = header;
}

json refused(std::string_view box, std::string_view reason)
{
    return json{{"refused", {{"box", box}, {"reason", reason}}}};
}

} // namespace

SurveyAnswer survey(const std::string& requestText)
{
    const json request = json::parse(requestText);
    const text::NumberLocale locale = localeOf(request);
    SurveyAnswer out;
    json answer;
    SurveyOptions options;
    options.inputName = request.value("surveyName", std::string("survey.csv"));
    options.profiled =
        request.value("profileOfP", true) ? inference::Parameter::P : inference::Parameter::S;
    // kestrum-estimate's own limits on its options, which the page's boxes do not know.
    const auto digits = digitsOf(request, locale);
    if (const auto* problem = std::get_if<std::string_view>(&digits)) {
        out.answer = refused("digits", *problem).dump();
        return out;
    }
    options.digits = std::get<int>(digits);
    const std::string pBy = request.value("pBy", std::string("stratum"));
    options.pBy = pBy == "block" ? PBy::Block : pBy == "survey" ? PBy::Survey : PBy::Stratum;
    const std::string target = request.value("coverageTarget", std::string());
    if (target.find_first_not_of(" \t") != std::string::npos) {
        const auto value = text::readDouble(target, locale);
        if (!value) {
            out.answer = refused("coverageTarget", value.reason).dump();
            return out;
        }
        if (!(*value.value > 0.0 && *value.value <= 1.0)) {
            out.answer = refused("coverageTarget", "must be a share above 0 and at most 1").dump();
            return out;
        }
        options.coverageTarget = *value.value;
    }
    // One thread: the page has no others, and the output is the same for any number.
    options.jobs = 1;
    const bool tally = request.value("tally", false);
    try {
        const std::string blocks = request.value("blocks", std::string());
        if (tally) {
            // kestrum-estimate --tally takes no frame: the tally holds no totals.
        } else if (!blocks.empty()) {
            options.frame = SamplingFrame::oneStratum(blocks);
        } else if (request.contains("frame") && request.at("frame").is_string()) {
            StringSource frame(request.at("frame").get<std::string>());
            options.frame =
                SamplingFrame::read(frame, request.value("frameName", std::string("frame.csv")));
        }
    } catch (const InputError& error) {
        answer["stopped"] = error.what();
        out.answer = answer.dump();
        return out;
    }

    SurveyResults results;
    options.observer = &results;
    const MemoryFile output;
    const MemoryFile messages;
    const std::string& text = request.at("survey").get_ref<const std::string&>();
    RowSink sink(output.fd());
    Progress progress(messages.stream(), false, std::nullopt);
    try {
        StringSource header(text);
        answer["sheet"] =
            SurveyReader(header, options.separator).layout().form != SheetForm::Frequencies;
        StringSource input(text);
        const SurveySummary summary = tally ? tallySurvey(input, sink, progress, options)
                                            : runSurvey(input, sink, progress, options, nullptr);
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
    out.csv = output.contents();
    answer["messages"] = lines(messages.contents());
    if (!tally) {
        tableOf(out.csv, locale, answer, out.table);
        out.forest =
            ForestDrawing(surveyForest(results, options.frame ? options.frame->strata()
                                                              : std::vector<FrameStratum>()),
                          locale);
    }
    out.answer = answer.dump();
    return out;
}

} // namespace kestrum::web
