# The WebAssembly build (emcmake cmake -DKESTRUM_WEB=ON): what emscripten needs beyond its own
# toolchain file.

# Boost.Math and nlohmann-json are header-only and come from the host's /usr/include, which cannot
# be put on the include path whole: its C library headers would replace emscripten's. A folder
# holding only the two libraries stands in for it.
set(KESTRUM_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${KESTRUM_HOST_HEADERS})
foreach(library boost nlohmann)
  if(NOT EXISTS /usr/include/${library})
    message(FATAL_ERROR "/usr/include/${library} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK /usr/include/${library} ${KESTRUM_HOST_HEADERS}/${library} SYMBOLIC)
endforeach()
foreach(target Boost::headers nlohmann_json::nlohmann_json)
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} SYSTEM INTERFACE ${KESTRUM_HOST_HEADERS})
endforeach()

# Tests run under node. Node's own fetch cannot read the .wasm beside a test from a file path, so
# emscripten's loader is left to read it from disk.
find_program(KESTRUM_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUM_NODE} --no-experimental-fetch)
