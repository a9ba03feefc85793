# Benchmarks of system audio capture.
bopling_add_bench(NAME bench_capture_latency
  SOURCES CaptureLatencyBench.cpp ClickPlayer.cpp
  LIBS bopling_capture bopling_pulse bopling_private_pulse Qt6::Core PkgConfig::PULSE)
# Built as bench/capture-latency.
set_target_properties(bench_capture_latency PROPERTIES OUTPUT_NAME capture-latency)
