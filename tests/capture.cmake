# Tests of system audio capture.
bopling_add_test(NAME tst_AudioTap SOURCES tst_AudioTap.cpp LIBS bopling_capture LABELS unit)

# A private PulseAudio daemon for tests that need a sound server (see PrivatePulse.h).
add_library(bopling_private_pulse STATIC support/PrivatePulse.cpp)
target_include_directories(bopling_private_pulse PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(bopling_private_pulse PUBLIC Qt6::Core)

bopling_add_test(NAME tst_AudioTapPulse SOURCES integration/tst_AudioTapPulse.cpp
  LIBS bopling_capture bopling_pulse bopling_audio bopling_private_pulse
  LABELS integration TIMEOUT 180)
