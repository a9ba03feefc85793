# Tests of the render area.
bopling_add_test(NAME tst_bundle_resolver SOURCES tst_bundle_resolver.cpp LIBS bopling_render_core)
