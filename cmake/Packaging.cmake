# What `make package` puts into the Debian package beside the programs and the
# resource folder: manual pages made from the programs' own --help, the desktop
# metadata, the start-at-login entry and the package's documentation.

set(BOPLING_WEBSITE "https://bopling.example.org" CACHE STRING
  "Web address where the package's screenshot.png is published")
set(BOPLING_MAINTAINER "Bopling maintainers <maintainers@users.noreply.c-seed-cd107116.example>"
  CACHE STRING "The package's maintainer")
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)

# Manual pages, remade whenever a program (and so its --help) changes.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(pages "")
  foreach(entry
      "bopling|a pixel-art scene that dances to what the computer plays"
      "bopling-analyze|print Bopling's audio analysis of a sound file as JSON lines"
      "bopling-creature|check Bopling creatures, draw their frames, make them from photos")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 name)
    set(page ${generated}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${HELP2MAN} --no-info --name=${name} --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: the package will have no manual pages")
endif()

configure_file(${packaging}/org.bopling.Bopling.metainfo.xml.in
  ${generated}/org.bopling.Bopling.metainfo.xml @ONLY)
string(TIMESTAMP BOPLING_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${generated}/changelog)

install(FILES ${generated}/org.bopling.Bopling.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/bopling-autostart.desktop ${packaging}/screenshot.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bopling)
install(FILES ${packaging}/copyright ${generated}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/bopling)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bopling)
set(CPACK_PACKAGE_CONTACT "${BOPLING_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pixel-art scene that dances to the music you play")
set(CPACK_PACKAGE_DESCRIPTION
  "Bopling listens to whatever the computer plays and turns it into a little\n"
  "pixel-art scene of warriors, monsters and familiar creatures that fight to\n"
  "the beat in a corner of the screen. It records the mix of the default output\n"
  "on the PulseAudio or PipeWire sound server, never a microphone.\n"
  "\n"
  "The package also holds bopling-analyze, which prints the audio analysis of a\n"
  "sound file, and bopling-creature, which checks creatures, draws them and\n"
  "makes them from photos with the Claude Code CLI.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the program loads beside the libraries it links: Qt's X11 platform
# plugin and the SVG image plugin for its icons. The web engine's render
# process (libqt6webenginecore6-bin) comes with the web engine's own
# dependencies.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# A sound server to listen to; a sound settings tool for the menu's
# "Open Sound Settings..." item.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pavucontrol")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
