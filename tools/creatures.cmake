# Tools of the creatures area.

# bopling-creature: check creature files and CLI replies, draw a frame as PNG.
add_executable(bopling-creature creatures/CreatureTool.cpp)
target_link_libraries(bopling-creature PRIVATE bopling_creatures)
target_compile_definitions(bopling-creature PRIVATE BOPLING_VERSION="${PROJECT_VERSION}")
set_target_properties(bopling-creature PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
install(TARGETS bopling-creature RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
