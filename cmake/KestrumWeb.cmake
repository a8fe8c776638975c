# The WebAssembly build (emcmake cmake -DKESTRUM_WEB=ON): what emscripten needs beyond its own
# toolchain file.

# Boost.Math, nlohmann-json, fmt and fast_float are header-only and come from the host's
# /usr/include, which cannot be put on the include path whole: its C library headers would replace
# emscripten's. A folder holding only those libraries stands in for it.
set(KESTRUM_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${KESTRUM_HOST_HEADERS})
foreach(library boost nlohmann fmt fast_float)
  if(NOT EXISTS /usr/include/${library})
    message(FATAL_ERROR "/usr/include/${library} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK /usr/include/${library} ${KESTRUM_HOST_HEADERS}/${library} SYMBOLIC)
endforeach()
foreach(target Boost::headers nlohmann_json::nlohmann_json fmt::fmt-header-only FastFloat::fast_float)
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} SYSTEM INTERFACE ${KESTRUM_HOST_HEADERS})
endforeach()
target_compile_definitions(fmt::fmt-header-only INTERFACE FMT_HEADER_ONLY=1)

# Tests run under node. Node's own fetch cannot read the .wasm beside a test from a file path, so
# emscripten's loader is left to read it from disk.
find_program(KESTRUM_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUM_NODE} --no-experimental-fetch)
