# bopling_capture: AudioTap, its control queues and the capture backend interface.
# bopling_pulse: the libpulse backend.
add_library(bopling_capture STATIC
  AudioTap.cpp
  ThreadControlQueue.cpp
  VirtualControlQueue.cpp
)
target_include_directories(bopling_capture PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(bopling_capture PUBLIC Qt6::Core bopling_settings)
find_package(Threads REQUIRED)
target_link_libraries(bopling_capture PRIVATE Threads::Threads)

add_library(bopling_pulse STATIC
  PulseBackend.cpp
)
target_include_directories(bopling_pulse PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(bopling_pulse PUBLIC bopling_capture Qt6::Core PRIVATE PkgConfig::PULSE)
