# `cpack -G DEB` in the build folder: a Debian package of the desktop program and the runner with
# everything `cmake --install` puts in place, its dependencies found by dpkg-shlibdeps.
set(VEXALO_PACKAGE_MAINTAINER "The Vexalo developers <vexalo@ostrane.org>"
    CACHE STRING "The Debian package's maintainer: NAME <ADDRESS>")
# "0.0.6 beta" is 0.0.6~beta for Debian, which sorts it before 0.0.6.
string(REPLACE " " "~" VEXALO_DEBIAN_VERSION "${VEXALO_VERSION_TEXT}")
# The date of the changelog's one entry: the build's, or SOURCE_DATE_EPOCH's when it is set.
string(TIMESTAMP VEXALO_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Debian wants a copyright file and a compressed changelog beside every package's files.
set(doc ${CMAKE_INSTALL_DATADIR}/doc/vexalo)
configure_file(${CMAKE_SOURCE_DIR}/app/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/package/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/package/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/package/changelog.gz ${CMAKE_SOURCE_DIR}/app/copyright
        DESTINATION ${doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexalo)
set(CPACK_PACKAGE_VENDOR "The Vexalo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NES emulator with a debugger")
set(CPACK_PACKAGE_DESCRIPTION
    "Vexalo runs cartridge images of the NES home console in the iNES format, with\n"
    "the common bank-switching mappers, at the console's own sixty frames a second.\n"
    "It plays the console's sound channels as notes on a General MIDI synthesizer,\n"
    "reads two joypads from the keyboard or a joystick, and keeps battery-backed\n"
    "cartridge memory beside the image. A debugger disassembles, steps and runs to\n"
    "breakpoints.\n"
    "\n"
    "The headless runner vexalo-run plays an image without a window and writes a\n"
    "trace, the picture, the memory, and the music as a MIDI log, a Standard MIDI\n"
    "File or a WAV file.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${VEXALO_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${VEXALO_DEBIAN_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VEXALO_PACKAGE_MAINTAINER}")
# Debian's section for emulators of other machines (games proper live in /usr/games).
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's X11 and Wayland platform plugins
# (without them the window cannot open). A SoundFont and Mesa's drivers are only recommended: the
# program runs silent without the one and draws without OpenGL without the other.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "timgm6mb-soundfont | fluid-soundfont-gm, libgl1-mesa-dri, shared-mime-info")
include(CPack)
