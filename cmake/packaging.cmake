# Installation and the release archives: cubewright-<version>-win64.zip from
# the Windows build, cubewright-<version>-Linux.tar.gz from the Linux build.
# Windows users get a flat zip, made for modders: everything sits at the top,
# so that unpacking it to a folder puts cubewright.exe straight into that
# folder, as README.txt says. Linux gets the usual bin/ and share/doc/cubewright/.
if(WIN32)
  install(TARGETS cubewright RUNTIME DESTINATION .)

  # The texts are made from their sources in the tree by every build, so the
  # zip never holds a guide that differs from docs/modding.md. Notepad and
  # cmd want CR LF, which a checkout on Linux does not give.
  set(windows_texts "")
  foreach(text IN ITEMS "docs/modding.md|README.txt|ON" "LICENSE|LICENSE.txt|OFF"
                        "dist/cubewright-drop.bat|cubewright-drop.bat|OFF")
    string(REPLACE "|" ";" text "${text}")
    list(GET text 0 source)
    list(GET text 1 name)
    list(GET text 2 markdown)
    add_custom_command(
      OUTPUT ${PROJECT_BINARY_DIR}/${name}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/${source}
              -DOUTPUT=${PROJECT_BINARY_DIR}/${name} -DMARKDOWN=${markdown}
              -P ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/${source} ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
      COMMENT "Making ${name} from ${source}"
      VERBATIM)
    list(APPEND windows_texts ${PROJECT_BINARY_DIR}/${name})
  endforeach()
  add_custom_target(windows_texts ALL DEPENDS ${windows_texts})
  install(FILES ${windows_texts} DESTINATION .)
  install(FILES examples/rifle.csv DESTINATION examples)
  # The pictures README.txt names, where it names them: beside it.
  install(FILES docs/rifle-preview.png docs/rifle-fit.png DESTINATION .)
else()
  include(GNUInstallDirs)
  install(TARGETS cubewright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # README.md is optional so that a tree without it still packages.
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
  install(FILES docs/modding.md docs/rifle-preview.png docs/rifle-fit.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME cubewright)
set(CPACK_PACKAGE_VENDOR "${cubewright_authors}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)

# With CUBEWRIGHT_PACKAGE_WINDOWS, a Linux build also makes the Windows
# archive, by running the package-windows workflow (a cross build) as part of
# its own build: one `cmake --workflow --preset package` gives both archives.
option(CUBEWRIGHT_PACKAGE_WINDOWS "Also cross-build the Windows archive" OFF)
if(CUBEWRIGHT_PACKAGE_WINDOWS AND NOT WIN32)
  add_custom_target(windows_package ALL
    COMMAND ${CMAKE_COMMAND} --workflow --preset package-windows
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Cross-building cubewright-${PROJECT_VERSION}-win64.zip"
    USES_TERMINAL
    VERBATIM)
endif()
