cmake_minimum_required(VERSION 3.25)
# Puts page.html's parts in its place-holders: the style, the script that starts the page, and
# the packed parts (Pack.mjs): the page's texts and script, the compiled core's script and its
# WebAssembly. Each is inline, so that the page is one file and needs nothing else.
foreach(part CSS BOOT SCRIPT CORE WASM)
  file(READ ${${part}} content_${part})
endforeach()
# Inside <script> only the sequence "</script" ends the element; the packed parts hold no '<'.
string(REPLACE "</script" "<\\/script" content_BOOT "${content_BOOT}")
file(READ ${PAGE} page)
string(REPLACE "@STYLE@" "${content_CSS}" page "${page}")
string(REPLACE "@BOOT@" "${content_BOOT}" page "${page}")
string(REPLACE "@SCRIPT@" "${content_SCRIPT}" page "${page}")
string(REPLACE "@CORE@" "${content_CORE}" page "${page}")
string(REPLACE "@WASM@" "${content_WASM}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
# Written whole, then put in place, so that a failed build leaves no half page.
file(WRITE ${OUTPUT}.part "${page}")
file(RENAME ${OUTPUT}.part ${OUTPUT})
