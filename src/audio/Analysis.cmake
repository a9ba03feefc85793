# bopling_audio: Analyzer, Snapshot, FileFeeder and the file reader they share
# with bopling-analyze. No display, no sound server.
find_package(Threads REQUIRED)
add_library(bopling_audio STATIC
  Analyzer.cpp
  MonoFileReader.cpp
  FileFeeder.cpp
)
target_include_directories(bopling_audio PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(bopling_audio
  PUBLIC Qt6::Core
  PRIVATE PkgConfig::FFTW3F PkgConfig::SNDFILE Threads::Threads)
# The per-hop loops (window, squared magnitudes, square roots, band sums)
# vectorise only when sqrt need not set errno and the vectoriser may add loop
# tails. Neither is fast-math: every result stays IEEE.
set_source_files_properties(Analyzer.cpp PROPERTIES COMPILE_OPTIONS "-fno-math-errno")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set_property(SOURCE Analyzer.cpp APPEND PROPERTY COMPILE_OPTIONS "-fvect-cost-model=dynamic")
endif()
