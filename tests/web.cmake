# Tests of the renderer page and the files shipped beside it. The page's logic
# runs under Node's own test runner.
# Label "web": they need Node, not a display, and are skipped by `-L unit`.

find_program(BOPLING_NODE node)
if(BOPLING_NODE)
  file(GLOB BOPLING_WEB_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/web/*.test.mjs)
  add_test(NAME web_page COMMAND ${BOPLING_NODE} --test ${BOPLING_WEB_TESTS})
  set_tests_properties(web_page PROPERTIES LABELS web TIMEOUT 120)
else()
  message(STATUS "node not found: the renderer page's tests are not registered")
endif()
