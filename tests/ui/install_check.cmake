# Installs the build into a scratch prefix and checks that a file manager can open cartridges
# with the program: the programs, the desktop entry for iNES images, the icons, the AppStream
# metadata and the manual pages.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/vexalo bin/vexalo-run share/applications/vexalo.desktop
             share/icons/hicolor/scalable/apps/vexalo.svg share/icons/hicolor/48x48/apps/vexalo.png
             share/metainfo/org.ostrane.vexalo.metainfo.xml share/man/man1/vexalo.1.gz
             share/man/man1/vexalo-run.1.gz)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ "${PREFIX}/share/applications/vexalo.desktop" entry)
foreach(line "Exec=vexalo %f" "MimeType=application/x-nes-rom;" "Icon=vexalo" "Type=Application")
  string(FIND "${entry}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
message(STATUS "installed: programs, desktop entry, icons, metadata and manual pages")
