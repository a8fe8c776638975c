// What the page's script may call: text in, text out, nothing kept between calls.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include "BlockPage.h"
#include "PlanPage.h"
#include "SurveyPage.h"

namespace {

// The browser's own decoder reads the bytes while they live; embind's copy of a std::string
// reads it a byte at a time in JavaScript, which megabytes of output feel.
emscripten::val text(const std::string& bytes)
{
    const emscripten::val decoder = emscripten::val::global("TextDecoder").new_();
    return decoder.call<emscripten::val>(
        "decode", emscripten::val(emscripten::typed_memory_view(
                      bytes.size(), reinterpret_cast<const unsigned char*>(bytes.data()))));
}

// Three strings, each handed over once: the survey's output runs to megabytes.
emscripten::val survey(const std::string& request)
{
    const kestrum::web::SurveyAnswer answer = kestrum::web::survey(request);
    emscripten::val out = emscripten::val::object();
    out.set("answer", text(answer.answer));
    out.set("csv", text(answer.csv));
    out.set("table", text(answer.table));
    // Kept by the page while it shows the survey, and deleted then.
    out.set("forest", answer.forest);
    return out;
}

} // namespace

EMSCRIPTEN_BINDINGS(kestrum)
{
    emscripten::function("estimate", &kestrum::web::estimate);
    emscripten::function("simulate", &kestrum::web::simulate);
    emscripten::function("survey", &survey);
    emscripten::class_<kestrum::web::ForestDrawing>("ForestDrawing")
        .function("draw", &kestrum::web::ForestDrawing::draw);
    emscripten::function("plan", &kestrum::web::plan);
}
