# Tests of the app area: placement, the panel, the controller and the program.
bopling_add_test(NAME tst_placement SOURCES tst_Placement.cpp LIBS bopling_placement)
bopling_add_test(NAME tst_status_menu SOURCES tst_StatusMenu.cpp LIBS bopling_appcore)
bopling_add_test(NAME tst_menu_actions SOURCES tst_MenuActions.cpp LIBS bopling_appcore
  bopling_render_core)
bopling_add_test(NAME tst_debug_commands SOURCES tst_DebugCommands.cpp LIBS bopling_appcore)

if(BOPLING_GUI)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  bopling_add_test(NAME tst_tray_icon SOURCES tst_TrayIcon.cpp LIBS bopling_ui Qt6::DBus
    LABELS integration TIMEOUT 60)
  bopling_add_test(NAME tst_overlay_panel SOURCES tst_OverlayPanel.cpp
    LIBS bopling_overlay PkgConfig::XCB LABELS integration TIMEOUT 60)
endif()

if(BOPLING_GUI)
  # The program end to end under scripts/test-env: display, window manager,
  # a private PulseAudio, the real page.
  bopling_add_test(NAME tst_program SOURCES integration/tst_Program.cpp
    LIBS bopling_private_pulse bopling_creatures LABELS integration TIMEOUT 240)
  add_dependencies(tst_program bopling demo-track)
  # Moving the panel by hand, with trayer for the menu and xdotool for the hands.
  bopling_add_test(NAME tst_panel_move SOURCES integration/tst_PanelMove.cpp
    LIBS bopling_placement bopling_appcore Qt6::Widgets LABELS integration TIMEOUT 180)
  add_dependencies(tst_panel_move bopling demo-track)
endif()

if(BOPLING_GUI)
  # The Debian package: contents, lintian, validators, the unpacked program.
  add_test(NAME tst_package COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/integration/package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(tst_package PROPERTIES LABELS integration TIMEOUT 600)
endif()

if(BOPLING_GUI)
  # The debug command channel end to end, through the command file only; the test
  # plays the sound and is the media player on the session bus.
  bopling_add_test(NAME tst_debug_channel SOURCES integration/tst_DebugChannel.cpp
    LIBS bopling_private_pulse bopling_creatures Qt6::DBus LABELS integration TIMEOUT 240)
  add_dependencies(tst_debug_channel bopling)
endif()

if(BOPLING_GUI)
  # The panel never takes the keyboard: under openbox, and under sway with
  # XWayland, the compositor started and ended by scripts/wayland-session.
  bopling_add_test(NAME tst_panel_focus SOURCES integration/tst_PanelFocus.cpp
    LIBS Qt6::Widgets LABELS integration TIMEOUT 120)
  add_dependencies(tst_panel_focus bopling demo-track)
  # A mouse for the headless compositor.
  pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
  add_executable(virtual-pointer support/VirtualPointer.c)
  target_link_libraries(virtual-pointer PRIVATE PkgConfig::WAYLAND_CLIENT)
  add_dependencies(tst_panel_focus virtual-pointer)
  target_compile_definitions(tst_panel_focus PRIVATE
    VIRTUAL_POINTER="$<TARGET_FILE:virtual-pointer>")
  add_test(NAME tst_panel_focus_xwayland
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wayland-session $<TARGET_FILE:tst_panel_focus>)
  set_tests_properties(tst_panel_focus_xwayland PROPERTIES LABELS integration TIMEOUT 120)
endif()

if(BOPLING_GUI)
  # The panel as a layer surface under sway, over a native window that records clicks.
  pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
  set(pointer_xml ${CMAKE_CURRENT_SOURCE_DIR}/support/wlr-virtual-pointer-unstable-v1.xml)
  set(pointer_code ${CMAKE_CURRENT_BINARY_DIR}/wlr-virtual-pointer-unstable-v1)
  add_custom_command(OUTPUT ${pointer_code}-client-protocol.h ${pointer_code}-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${pointer_xml} ${pointer_code}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${pointer_xml} ${pointer_code}-protocol.c
    DEPENDS ${pointer_xml} VERBATIM)
  add_executable(bopling-wayland-clicks support/wayland-clicks.c
    ${pointer_code}-client-protocol.h ${pointer_code}-protocol.c)
  target_include_directories(bopling-wayland-clicks PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(bopling-wayland-clicks PRIVATE bopling_wayland_protocols)
  set_target_properties(bopling-wayland-clicks PROPERTIES C_STANDARD 11)
  add_executable(tst_layer_panel integration/tst_LayerPanel.cpp)
  target_link_libraries(tst_layer_panel PRIVATE Qt6::Gui Qt6::Test)
  target_compile_definitions(tst_layer_panel PRIVATE BOPLING_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(tst_layer_panel bopling bopling-wayland-clicks demo-track)
  add_test(NAME tst_layer_panel
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wayland-session $<TARGET_FILE:tst_layer_panel>)
  set_tests_properties(tst_layer_panel PROPERTIES LABELS integration TIMEOUT 240)
endif()
