# Helpers shared by every subsystem's CMakeLists.txt.

# telvane_test(NAME name LABEL unit|peer|gui|line SOURCES ... LIBS ... [TIMEOUT s])
# A GoogleTest executable registered as one CTest test with the given label.
function(telvane_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} telvane_testsupport GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    TELVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TELVANE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  # The time limit stands for the expected cost until CTest has measured one, so that the longest
  # tests start first and a parallel run does not end on one long test alone.
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} COST ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TELVANE_BIN=${CMAKE_BINARY_DIR}/bin")
  # Line tests run in real time on the virtual line; ./test runs them after the CPU-bound tests,
  # two at a time (they mostly wait on the simulated line).
endfunction()

# telvane_install_program(target): installs a program into bin/ of the install tree; its man
# page is data/man/<target>.1.
function(telvane_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY TELVANE_INSTALLED_PROGRAMS ${target})
endfunction()

# telvane_fuzz_target(NAME name SOURCES ... LIBS ... [CORPUS dir])
# A libFuzzer executable (instrumentation comes from the root CMakeLists.txt). Its seed corpus
# in the repository (default: the "corpus" directory beside the sources, NAME's subdirectory
# when there is one) is also run once as a CTest test labelled "fuzz", so every corpus entry
# stays a regression test.
function(telvane_fuzz_target)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  if(NOT F_CORPUS)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${F_NAME})
      set(F_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${F_NAME})
    else()
      set(F_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    endif()
  endif()
  if(NOT IS_DIRECTORY ${F_CORPUS})
    message(FATAL_ERROR "fuzz target ${F_NAME} has no seed corpus (${F_CORPUS})")
  endif()
  add_test(NAME ${F_NAME}_corpus COMMAND ${F_NAME} -runs=0 -timeout=60 ${F_CORPUS})
  set_tests_properties(${F_NAME}_corpus PROPERTIES LABELS fuzz TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
