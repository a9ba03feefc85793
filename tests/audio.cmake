# Tests of the audio area.
