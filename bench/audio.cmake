# Benchmarks of the audio area.
pkg_check_modules(AUBIO REQUIRED IMPORTED_TARGET aubio)
bopling_add_bench(NAME bench_analyzer
  SOURCES AnalyzerBench.cpp
  LIBS bopling_audio bopling_synth PkgConfig::AUBIO)
# Built as bench/analyzer.
set_target_properties(bench_analyzer PROPERTIES OUTPUT_NAME analyzer)
