cmake_minimum_required(VERSION 3.25)
# Puts page.html's parts in its place-holders: the style, the texts, the compiled core (its
# WebAssembly gzipped, in base64) and the page's script, each inline, so that the page is one file and needs nothing else.
foreach(part CSS TEXTS CORE SCRIPT WASM)
  file(READ ${${part}} content_${part})
endforeach()
# Inside <script> only the sequence "</script" ends the element; the core's text may hold it.
foreach(part TEXTS CORE SCRIPT)
  string(REPLACE "</script" "<\\/script" content_${part} "${content_${part}}")
endforeach()
file(READ ${PAGE} page)
string(REPLACE "@STYLE@" "${content_CSS}" page "${page}")
string(REPLACE "@TEXTS@" "${content_TEXTS}" page "${page}")
string(REPLACE "@WASM@" "${content_WASM}" page "${page}")
string(REPLACE "@CORE@" "${content_CORE}" page "${page}")
string(REPLACE "@SCRIPT@" "${content_SCRIPT}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
# Written whole, then put in place, so that a failed build leaves no half page.
file(WRITE ${OUTPUT}.part "${page}")
file(RENAME ${OUTPUT}.part ${OUTPUT})
