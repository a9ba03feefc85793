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
install(FILES ${packaging}/copyright ${generated}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/bopling-web COMPONENT web)

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
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Two packages: bopling, whose program draws the scene itself, and
# bopling-web, the web renderer (bopling --renderer=web) with the web engine
# it needs, so that bopling installs and runs without a web engine.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified web)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME bopling)
set(CPACK_DEBIAN_UNSPECIFIED_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_WEB_PACKAGE_NAME bopling-web)
set(CPACK_DEBIAN_WEB_FILE_NAME DEB-DEFAULT)
set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_WEB_DESCRIPTION
  "The web renderer for Bopling. Bopling draws its scene itself; with this\n"
  "package, bopling --renderer=web shows the scene in a web engine instead.")
string(JOIN "" CPACK_DEBIAN_WEB_DESCRIPTION ${CPACK_DEBIAN_WEB_DESCRIPTION})
# What the program loads beside the libraries it links: Qt's X11 platform
# plugin and the SVG image plugin for its icons.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# The web engine's render process is a program of its own.
set(CPACK_DEBIAN_WEB_PACKAGE_DEPENDS "bopling (= ${PROJECT_VERSION}), libqt6webenginecore6-bin")
# A sound server to listen to; a sound settings tool for the menu's
# "Open Sound Settings..." item.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_SUGGESTS "pavucontrol, bopling-web")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
