# Tests of the render area.
bopling_add_test(NAME tst_bundle_resolver SOURCES tst_bundle_resolver.cpp LIBS bopling_render_core)
bopling_add_test(NAME tst_renderer_protocol SOURCES tst_renderer_protocol.cpp LIBS bopling_render_core)

if(BOPLING_GUI)
  # The light host; the pixel check runs the same modules under Node as well.
  bopling_add_test(NAME tst_light_host SOURCES tst_LightHost.cpp LIBS bopling_lighthost
    LABELS integration TIMEOUT 120)
  bopling_add_test(NAME tst_renderer_e2e SOURCES integration/tst_renderer_e2e.cpp
    LIBS bopling_webhost LABELS integration TIMEOUT 240)
endif()
