# Benchmarks of the render area.
