# Tools of the audio area: the synthetic music shared by the demo track, the
# analyzer tests and the benchmark; the demo track itself; bopling-analyze.

add_library(bopling_synth STATIC SyntheticMusic.cpp)
target_include_directories(bopling_synth PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

add_executable(bopling-demo-track DemoTrack.cpp)
target_link_libraries(bopling-demo-track PRIVATE bopling_synth PkgConfig::SNDFILE)

# The demo track is made at build time, never downloaded.
set(BOPLING_DEMO_TRACK ${CMAKE_BINARY_DIR}/demo/bopling-demo.wav)
add_custom_command(
  OUTPUT ${BOPLING_DEMO_TRACK}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo
  COMMAND bopling-demo-track ${BOPLING_DEMO_TRACK}
  DEPENDS bopling-demo-track
  COMMENT "Writing the demo track"
  VERBATIM)
add_custom_target(demo-track ALL DEPENDS ${BOPLING_DEMO_TRACK})

add_executable(bopling-analyze BoplingAnalyze.cpp)
target_link_libraries(bopling-analyze PRIVATE bopling_audio bopling_capture bopling_pulse Qt6::Core)
target_compile_definitions(bopling-analyze PRIVATE BOPLING_VERSION="${PROJECT_VERSION}")
set_target_properties(bopling-analyze PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
install(TARGETS bopling-analyze RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
