# Benchmarks of the audio area.
