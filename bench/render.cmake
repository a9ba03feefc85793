# Benchmarks of the render area.
if(BOPLING_GUI)
  bopling_add_bench(NAME bench_renderer SOURCES RendererBench.cpp LIBS bopling_webhost)
  # Built as bench/renderer.
  set_target_properties(bench_renderer PROPERTIES OUTPUT_NAME renderer)
endif()
