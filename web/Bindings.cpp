// What the page's script may call: text in, text out, nothing kept between calls.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include "BlockPage.h"
#include "PlanPage.h"
#include "SurveyPage.h"

namespace {

// Three strings, each handed over once: the survey's output runs to megabytes.
emscripten::val survey(const std::string& request)
{
    const kestrum::web::SurveyAnswer answer = kestrum::web::survey(request);
    emscripten::val out = emscripten::val::object();
    out.set("answer", answer.answer);
    out.set("csv", answer.csv);
    out.set("table", answer.table);
    return out;
}

} // namespace

EMSCRIPTEN_BINDINGS(kestrum)
{
    emscripten::function("estimate", &kestrum::web::estimate);
    emscripten::function("simulate", &kestrum::web::simulate);
    emscripten::function("survey", &survey);
    emscripten::function("plan", &kestrum::web::plan);
}
