# The fuzz build: every library carries libFuzzer's coverage instrumentation, and the harnesses of fuzz/ link
# libFuzzer itself. It needs clang and the address sanitizer build (which adds UBSan).
if(QUORRIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUORRIN_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  if(NOT QUORRIN_SANITIZE STREQUAL "address")
    message(FATAL_ERROR "QUORRIN_FUZZ needs -DQUORRIN_SANITIZE=address")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
