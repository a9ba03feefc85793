# Tests of system audio capture.
