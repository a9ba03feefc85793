# Benchmarks of the app area: the whole program's CPU, memory and click latency,
# and the memory of a bare web engine page beside it.
if(BOPLING_GUI)
  bopling_add_bench(NAME bench_engine_floor SOURCES EngineFloorBench.cpp EngineProcesses.cpp
    LIBS bopling_ui bopling_webhost)
  set_target_properties(bench_engine_floor PROPERTIES OUTPUT_NAME engine-floor)
  bopling_add_bench(NAME bench_app SOURCES AppBench.cpp ClickPlayer.cpp EngineProcesses.cpp
    LIBS bopling_ui bopling_private_pulse Qt6::Test PkgConfig::PULSE)
  # Built as bench/app; needs a display (make bench runs it under scripts/test-env).
  set_target_properties(bench_app PROPERTIES OUTPUT_NAME app)
  target_include_directories(bench_app PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_dependencies(bench_app demo-track bopling-webhost)
endif()
