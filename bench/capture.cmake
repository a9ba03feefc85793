# Benchmarks of system audio capture.
