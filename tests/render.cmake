# Tests of the render area.
