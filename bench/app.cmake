# Benchmarks of the app area: the whole program's CPU, memory and click latency,
# and the memory of a bare web engine page beside it.
if(BOPLING_GUI)
  bopling_add_bench(NAME bench_engine_floor SOURCES EngineFloorBench.cpp EngineProcesses.cpp
    LIBS bopling_ui bopling_webhost)
  set_target_properties(bench_engine_floor PROPERTIES OUTPUT_NAME engine-floor)
  # bench/app-host measures one renderer host; bench/app, which has no Qt of
  # its own, runs it for both. Needs a display (make bench runs it under
  # scripts/test-env).
  add_executable(bench_app_host AppBench.cpp ClickPlayer.cpp EngineProcesses.cpp)
  target_link_libraries(bench_app_host PRIVATE
    bopling_ui bopling_private_pulse Qt6::Test PkgConfig::PULSE)
  target_include_directories(bench_app_host PRIVATE
    ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/bench ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(bench_app_host PRIVATE BOPLING_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(bench_app_host PROPERTIES OUTPUT_NAME app-host)
  add_dependencies(bench_app_host demo-track bopling-webhost)
  bopling_add_bench(NAME bench_app SOURCES SideBySide.cpp)
  set_target_properties(bench_app PROPERTIES OUTPUT_NAME app)
  add_dependencies(bench_app bench_app_host)
endif()
