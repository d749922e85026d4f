# Helpers shared by every subsystem's CMakeLists.txt.

# Adds DIR when it holds a CMakeLists.txt.
function(telvane_add_subdirs dir)
  if(EXISTS ${dir}/CMakeLists.txt)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
    add_subdirectory(${dir} ${CMAKE_BINARY_DIR}/${rel})
  endif()
endfunction()

# Adds every immediate child directory of DIR that holds a CMakeLists.txt, in name order.
function(telvane_add_children dir)
  file(GLOB children LIST_DIRECTORIES true ${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child})
      telvane_add_subdirs(${child})
    endif()
  endforeach()
endfunction()

# telvane_test(NAME name LABEL unit|peer|gui|line SOURCES ... LIBS ... [TIMEOUT s])
# A GoogleTest executable registered as one CTest test with the given label.
function(telvane_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    TELVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TELVANE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TELVANE_BIN=${CMAKE_BINARY_DIR}/bin")
  if(T_LABEL STREQUAL "line")
    # Real-time audio on the virtual line: keep other tests from starving it of the CPU.
    set_tests_properties(${T_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
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
