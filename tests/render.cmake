# Tests of the render area.
bopling_add_test(NAME tst_bundle_resolver SOURCES tst_bundle_resolver.cpp LIBS bopling_render_core)
bopling_add_test(NAME tst_page_messages SOURCES tst_page_messages.cpp LIBS bopling_render_core)
bopling_add_test(NAME tst_renderer_protocol SOURCES tst_renderer_protocol.cpp LIBS bopling_render_core)
