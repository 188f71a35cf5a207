# cmake/JexWarnings.cmake - the warning flags every target of the project builds with.
add_library(jex_warnings INTERFACE)
target_compile_options(jex_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Woverloaded-virtual -Wno-missing-field-initializers
  # GCC 12 reports every delete of a class with a C++20 destroying operator delete (TThread) as
  # mismatched with the allocation; the pairing is correct, the warning a known false positive.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-mismatched-new-delete>)

# jex_target_defaults(target): warnings and the repository root as include directory.
function(jex_target_defaults target)
  target_link_libraries(${target} PRIVATE jex_warnings)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
endfunction()
