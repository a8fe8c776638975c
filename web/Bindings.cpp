// What the page's script may call: text in, JSON text out, nothing kept between calls.
#include <emscripten/bind.h>

#include "BlockPage.h"
#include "SurveyPage.h"

EMSCRIPTEN_BINDINGS(kestrum)
{
    emscripten::function("estimate", &kestrum::web::estimate);
    emscripten::function("simulate", &kestrum::web::simulate);
    emscripten::function("survey", &kestrum::web::survey);
}
