# Warnings are errors on every compiler the project builds with.
add_compile_options(-Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # gcc 12 reports false positives on std::string and std::vector internals at -O2.
  add_compile_options(-Wno-stringop-overflow -Wno-stringop-overread -Wno-array-bounds -Wno-restrict)
endif()
