# Tests of the audio area.
bopling_add_test(NAME tst_analyzer
  SOURCES tst_analyzer.cpp support/AnalyzerProbe.h
  LIBS bopling_audio bopling_synth
  LABELS unit)
bopling_add_test(NAME tst_analyzer_tempo
  SOURCES tst_analyzer_tempo.cpp support/AnalyzerProbe.h
  LIBS bopling_audio bopling_synth
  LABELS unit)
bopling_add_test(NAME tst_file_feeder
  SOURCES tst_file_feeder.cpp
  LIBS bopling_audio PkgConfig::SNDFILE
  LABELS unit)
