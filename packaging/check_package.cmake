# Makes the user's ZIP with CPack in a scratch folder and checks what a user
# unpacks from it. Run with -DCPACK= -DCONFIG= (CPackConfig.cmake) -DWORK=
# (scratch folder) -DDLL= (the built plug-in) -DVERSION= and, for a
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

# The note is Windows text and names what the export touches on disk.
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
foreach(expected "C:/ORVEL/CLO3D_Plugin" "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb"
        "C:/ORVEL/CLO3D_Plugin/API.json" "C:\\Program Files\\ORVEL\\ORVEL.exe"
        "-Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"" "Export for ORVEL (BETA)" "ORVELPlugin ${VERSION}")
  string(FIND "${note}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "INSTALL.txt does not mention ${expected}")
  endif()
endforeach()
message(STATUS "${zips}: ${entries}")
