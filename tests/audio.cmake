# Tests of the audio area.
bopling_add_test(NAME tst_analyzer
  SOURCES tst_analyzer.cpp support/AnalyzerProbe.h
  LIBS bopling_audio bopling_synth PkgConfig::SNDFILE
  LABELS unit)

# bopling-analyze FILE on the 48 kHz demo track: the snapshot due after 20 × 33 ms of audio
# comes with the block that ends at 0.660 s, not a block late.
add_test(NAME analyze_file_schedule COMMAND bopling-analyze ${CMAKE_BINARY_DIR}/demo/bopling-demo.wav)
set_tests_properties(analyze_file_schedule PROPERTIES LABELS unit
  PASS_REGULAR_EXPRESSION "\"t\":0\\.660,")
