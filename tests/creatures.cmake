# Tests of the creatures area.
