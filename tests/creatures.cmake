# Tests of the creatures area.
bopling_add_test(NAME tst_creatures SOURCES tst_creatures.cpp LIBS bopling_creatures LABELS unit)
bopling_add_test(NAME tst_ClaudeRunner SOURCES tst_ClaudeRunner.cpp LIBS bopling_creatures
  LABELS unit)

# Runs the installed command-line tool as a user would.
bopling_add_test(NAME tst_creaturetool SOURCES tst_creaturetool.cpp LIBS bopling_creatures
  LABELS unit)
target_compile_definitions(tst_creaturetool PRIVATE
  BOPLING_CREATURE_TOOL="$<TARGET_FILE:bopling-creature>")
add_dependencies(tst_creaturetool bopling-creature)

if(BOPLING_FUZZ)
  add_subdirectory(fuzz)
endif()

if(BOPLING_GUI)
  # The creature window under Xvfb, with the real runner and a fake `claude`.
  bopling_add_test(NAME tst_creature_window SOURCES tst_CreatureWindow.cpp
    LIBS bopling_creature_window bopling_appcore LABELS integration TIMEOUT 180)
endif()
