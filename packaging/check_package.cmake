# Makes the user's ZIP with CPack in a scratch folder and checks what a user
# unpacks from it. Run with -DCPACK= -DCONFIG= (CPackConfig.cmake) -DWORK=
# (scratch folder) -DDLL= (the built plug-in) -DVERSION=, -DTEST_BUILD= (empty
# for the build for users, else what kind of test build it is) and, for a
# multi-configuration build, -DBUILD_CONFIG= (the configuration to pack).
cmake_minimum_required(VERSION 3.25)

set(config_option)
if(BUILD_CONFIG)
  set(config_option -C ${BUILD_CONFIG})
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CPACK} --config ${CONFIG} ${config_option} -B ${WORK}
                RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()

file(GLOB zips ${WORK}/*.zip)
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one ZIP in ${WORK}, found [${zips}]")
endif()

# A test build is named as one; only the build for users has the plain name.
get_filename_component(zip_name ${zips} NAME)
if(TEST_BUILD AND NOT zip_name MATCHES "^ORVELPlugin-${VERSION}-win64-[a-z-]+-test-build\\.zip$")
  message(FATAL_ERROR "${zip_name} is a test build but is not named as one")
elseif(NOT TEST_BUILD AND NOT zip_name STREQUAL "ORVELPlugin-${VERSION}-win64.zip")
  message(FATAL_ERROR "${zip_name} is not named ORVELPlugin-${VERSION}-win64.zip")
endif()

# Exactly two files at the top level, nothing else.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
string(REGEX MATCHALL "[^\n]+" entries "${listing}")
list(SORT entries)
if(failed OR NOT entries STREQUAL "INSTALL.txt;ORVELPlugin.dll")
  message(FATAL_ERROR "${zips} holds [${entries}], expected exactly [INSTALL.txt;ORVELPlugin.dll]")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY ${WORK}/unpacked
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot unpack ${zips}")
endif()

# The DLL is the one built, and carries its version resource.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DLL} ${WORK}/unpacked/ORVELPlugin.dll
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "the packaged ORVELPlugin.dll is not the built ${DLL}")
endif()
file(STRINGS ${WORK}/unpacked/ORVELPlugin.dll resource ENCODING UTF-16LE
     REGEX "^(VS_VERSION_INFO|FileVersion|OriginalFilename|ORVELPlugin\\.dll|[0-9.]+)$")
foreach(expected VS_VERSION_INFO FileVersion OriginalFilename ORVELPlugin.dll ${VERSION})
  if(NOT expected IN_LIST resource)
    message(FATAL_ERROR "ORVELPlugin.dll has no version resource entry \"${expected}\" [${resource}]")
  endif()
endforeach()
# Its description and comments, as Windows shows them in the file's properties.
file(STRINGS ${WORK}/unpacked/ORVELPlugin.dll warnings ENCODING UTF-16LE REGEX "not for use in CLO 3D")
if(TEST_BUILD)
  foreach(expected "^TEST BUILD, not for use in CLO 3D - " "^Test build .*, not for use in CLO 3D$")
    set(found ${warnings})
    list(FILTER found INCLUDE REGEX "${expected}")
    if(NOT found)
      message(FATAL_ERROR "ORVELPlugin.dll's version resource does not say it is a test build [${warnings}]")
    endif()
  endforeach()
elseif(warnings)
  message(FATAL_ERROR "ORVELPlugin.dll's version resource calls the build for users a test build [${warnings}]")
endif()

# The note is Windows text, names what the export touches on disk and says
# that the DLL is not signed (no build signs it).
# (Read as bytes: a text read would drop the carriage returns.)
file(READ ${WORK}/unpacked/INSTALL.txt bytes HEX)
string(REGEX REPLACE "(..)" " \\1" bytes "${bytes}")
string(APPEND bytes " ")
string(FIND "${bytes}" " 0d 0a " first_crlf)
string(REPLACE " 0d 0a" "" without_crlf "${bytes}")
string(FIND "${without_crlf}" " 0a " bare_lf)
if(first_crlf EQUAL -1 OR NOT bare_lf EQUAL -1)
  message(FATAL_ERROR "INSTALL.txt does not end every line with CR LF")
endif()
file(READ ${WORK}/unpacked/INSTALL.txt note)
# A test build's note says so before anything else.
string(REGEX MATCH "^TEST BUILD [^\r\n]*NOT FOR USE IN CLO 3D\r?\n[^\r\n]*Do not install" warning "${note}")
if(TEST_BUILD AND NOT warning)
  message(FATAL_ERROR "INSTALL.txt of a test build does not begin by saying so:\n${note}")
elseif(NOT TEST_BUILD AND NOT note MATCHES "^ORVELPlugin ${VERSION} - ")
  message(FATAL_ERROR "INSTALL.txt of the build for users does not begin with its title:\n${note}")
endif()
foreach(expected "C:/ORVEL/CLO3D_Plugin" "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb"
        "C:/ORVEL/CLO3D_Plugin/API.json" "C:\\Program Files\\ORVEL\\ORVEL.exe"
        "-Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"" "Export for ORVEL (BETA)" "ORVELPlugin ${VERSION}"
        "ORVELPlugin.dll carries no code signature")
  string(FIND "${note}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "INSTALL.txt does not mention ${expected}")
  endif()
endforeach()
message(STATUS "${zips}: ${entries}")
