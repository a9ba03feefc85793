# Tests of system audio capture.
add_library(bopling_capture_fake STATIC support/FakeCaptureBackend.cpp)
target_include_directories(bopling_capture_fake PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(bopling_capture_fake PUBLIC bopling_capture)

bopling_add_test(NAME tst_AudioTap SOURCES tst_AudioTap.cpp
  LIBS bopling_capture bopling_capture_fake LABELS unit)
