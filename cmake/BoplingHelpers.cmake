# bopling_add_test(NAME <name> SOURCES <files...> LIBS <targets...>
#                  [LABELS unit|integration ...] [TIMEOUT <seconds>] [ENVIRONMENT <VAR=value>...])
# Builds one QtTest executable and registers it with CTest. "unit" tests run
# again in the sanitizer build; "integration" tests need Xvfb, PulseAudio or a
# web engine and run only in the normal build.
function(bopling_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    BOPLING_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    BOPLING_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
endfunction()

# bopling_add_bench(NAME <name> SOURCES <files...> LIBS <targets...> [ARGS <args...>])
# Builds one benchmark and hooks it into the `bench` target, which runs them all.
function(bopling_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
  target_include_directories(${B_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/bench)
  target_compile_definitions(${B_NAME} PRIVATE
    BOPLING_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    BOPLING_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_custom_target(run_${B_NAME} COMMAND ${B_NAME} ${B_ARGS} USES_TERMINAL
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  add_dependencies(bench run_${B_NAME})
endfunction()
