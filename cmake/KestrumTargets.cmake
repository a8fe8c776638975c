# Per-target settings shared by every target of the project: C++20, warnings, and arithmetic that the
# compiler may not fuse or reorder (results must be the same on every machine).
function(kestrum_target_defaults target)
  target_compile_features(${target} PRIVATE cxx_std_20)
  # Position-independent throughout: the static parts also go into the survey tool's plot module.
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -ffp-contract=off -fno-fast-math)
  # The product's version, for every program to show alike.
  target_compile_definitions(${target} PRIVATE KESTRUM_VERSION="${PROJECT_VERSION}")
  if(EMSCRIPTEN)
    # emscripten drops catch blocks unless told otherwise, and the code catches what it throws (and
    # Profile.cpp Boost's evaluation_error).
    target_compile_options(${target} PRIVATE -fexceptions)
    target_link_options(${target} PRIVATE -fexceptions)
  endif()
  if(KESTRUM_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
