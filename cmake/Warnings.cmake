# One interface target carries the project's warning flags and safety defines;
# every library, program, test and benchmark links it.
add_library(corvane_warnings INTERFACE)
target_compile_options(corvane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(corvane_warnings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)

if(CORVANE_SANITIZE)
  # The vptr check needs a spare descriptor to probe memory; the tests that exhaust
  # descriptors on purpose would get false reports from it.
  target_compile_options(corvane_warnings INTERFACE
    -fsanitize=address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(corvane_warnings INTERFACE -fsanitize=address,undefined)
  target_compile_definitions(corvane_warnings INTERFACE _GLIBCXX_ASSERTIONS)
endif()
