# -Wall -Wextra on every target of the project; the build stays free of warnings.
function(quorrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# One library of the system from every source file of its folder, so that a new class needs no edit here.
function(quorrin_folder_library name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  if(NOT srcs)
    # A folder whose classes are not written yet still gives a (empty) library to link.
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "// no classes yet\nnamespace {}\n")
    set(srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
  endif()
  add_library(${name} STATIC ${srcs} ${ARGN})
  quorrin_warnings(${name})
endfunction()
