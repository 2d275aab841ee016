# The ZIP users install: the plug-in DLL and a short install note, at the top
# level of the archive. `cpack --preset windows-msvc`, against the host's real
# SDK, makes the one for users; every other build makes a test build of it,
# which says so in its name and in the note's first lines.
install(TARGETS ORVELPlugin LIBRARY DESTINATION . COMPONENT plugin)
if(ORVEL_TEST_BUILD)
  # Windows line ends: configure_file turns only the template's own lines into CR LF.
  string(TOUPPER "${ORVEL_TEST_BUILD}" ORVEL_INSTALL_NOTE_HEAD)
  string(APPEND ORVEL_INSTALL_NOTE_HEAD "\r\n"
         "This ZIP is for testing the plug-in. Do not install its DLL in CLO 3D:\r\n"
         "only a release built against the SDK of CLO 3D may be used there.\r\n\r\n")
else()
  set(ORVEL_INSTALL_NOTE_HEAD "")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt.in
               ${CMAKE_BINARY_DIR}/packaging/INSTALL.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/packaging/INSTALL.txt DESTINATION . COMPONENT plugin)

# Packaging needs the plug-in alone: CPack must not first build the stand-ins
# and tests that the install step would otherwise wait for.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ORVELPlugin)
set(CPACK_PACKAGE_VENDOR ORVEL)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Only the plug-in's own component, whatever else may one day be installable.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};plugin;/")
# A MinGW-built DLL uses another C++ runtime than the host, and one built
# against the stand-in SDK may call the wrong functions of the host: their ZIPs
# say so in their names and are never ones to give users.
if(MINGW)
  set(CPACK_PACKAGE_FILE_NAME ORVELPlugin-${PROJECT_VERSION}-win64-mingw-test-build)
elseif(ORVEL_TEST_BUILD)
  set(CPACK_PACKAGE_FILE_NAME ORVELPlugin-${PROJECT_VERSION}-win64-standin-sdk-test-build)
else()
  set(CPACK_PACKAGE_FILE_NAME ORVELPlugin-${PROJECT_VERSION}-win64)
endif()
include(CPack)

if(MSVC)
  # The plug-in's debug symbols, from the same build as the DLL, in a ZIP of
  # their own beside the user's: `cmake --build ... --target package_symbols`.
  # Crash dumps from a user's host are read with them; users never need them.
  set(ORVEL_SYMBOLS_ZIP ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}-symbols.zip)
  add_custom_target(package_symbols
    COMMAND ${CMAKE_COMMAND} -E rm -f ${ORVEL_SYMBOLS_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${ORVEL_SYMBOLS_ZIP} --format=zip -- $<TARGET_PDB_FILE_NAME:ORVELPlugin>
    WORKING_DIRECTORY $<TARGET_PDB_FILE_DIR:ORVELPlugin>
    COMMENT "Packing $<TARGET_PDB_FILE_NAME:ORVELPlugin> into ${ORVEL_SYMBOLS_ZIP}"
    VERBATIM)
  add_dependencies(package_symbols ORVELPlugin)
endif()

# The archive holds exactly the DLL, with its version resource, and the note;
# a test build says so in the ZIP's name, the note and the resource.
if(ORVEL_BUILD_TESTS)
  add_test(NAME package_contents
           COMMAND ${CMAKE_COMMAND} -DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
                   -DCPACK=${CMAKE_CPACK_COMMAND} -DWORK=${CMAKE_BINARY_DIR}/package-test -DDLL=$<TARGET_FILE:ORVELPlugin>
                   -DVERSION=${PROJECT_VERSION} -DBUILD_CONFIG=$<CONFIG> "-DTEST_BUILD=${ORVEL_TEST_BUILD}"
                   -P ${PROJECT_SOURCE_DIR}/packaging/check_package.cmake)
endif()
