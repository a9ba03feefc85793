# Tests of the renderer page and the files shipped beside it. The page's logic
# runs under Node's own test runner; the built-in creature goes through the
# program's creature check.
# Label "web": they need Node, not a display, and are skipped by `-L unit`.

find_program(BOPLING_NODE node)
if(BOPLING_NODE)
  file(GLOB BOPLING_WEB_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/web/*.test.mjs)
  list(REMOVE_ITEM BOPLING_WEB_TESTS ${CMAKE_SOURCE_DIR}/tests/web/tobble-check.test.mjs)
  add_test(NAME web_page COMMAND ${BOPLING_NODE} --test ${BOPLING_WEB_TESTS})
  set_tests_properties(web_page PROPERTIES LABELS web TIMEOUT 120)

  if(TARGET bopling-creature)
    add_test(NAME web_tobble_check
             COMMAND ${BOPLING_NODE} --test ${CMAKE_SOURCE_DIR}/tests/web/tobble-check.test.mjs)
    set_tests_properties(web_tobble_check PROPERTIES LABELS web TIMEOUT 60
      ENVIRONMENT "BOPLING_CREATURE_TOOL=$<TARGET_FILE:bopling-creature>")
  endif()
else()
  message(STATUS "node not found: the renderer page's tests are not registered")
endif()
