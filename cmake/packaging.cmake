# Installation and the release archives: cubewright-<version>-win64.zip from
# the Windows build, cubewright-<version>-Linux.tar.gz from the Linux build.
# Windows users get a flat folder (cubewright.exe, README.md, LICENSE); Linux
# gets the usual bin/ and share/doc/cubewright/.
if(WIN32)
  set(cubewright_bin_dir .)
  set(cubewright_doc_dir .)
else()
  include(GNUInstallDirs)
  set(cubewright_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(cubewright_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS cubewright RUNTIME DESTINATION ${cubewright_bin_dir})
# README.md is optional so that a tree without it still packages.
install(FILES README.md LICENSE DESTINATION ${cubewright_doc_dir} OPTIONAL)

set(CPACK_PACKAGE_NAME cubewright)
set(CPACK_PACKAGE_VENDOR "${cubewright_authors}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
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
