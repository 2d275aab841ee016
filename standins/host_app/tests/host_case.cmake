# Runs one case of the stand-in host program's end-to-end tests in a fresh
# working folder and checks its exit code and output.
#
#   cmake -DCASE=<name> -DHOST=<program> -DFOLDER=<working folder>
#         -DFILES=<folder of the viewer tests' files> [-DEMULATOR=<wine>]
#         [-DSYSTEM_DRIVE=ON] -P host_case.cmake
#
# SYSTEM_DRIVE says that the host program's C: drive is the machine's own
# (natively on Windows): the case then runs only with
# ORVEL_TESTS_MAY_CHANGE_SYSTEM_DRIVE=1, as on a throwaway CI runner.
cmake_minimum_required(VERSION 3.25)

if(SYSTEM_DRIVE AND NOT "$ENV{ORVEL_TESTS_MAY_CHANGE_SYSTEM_DRIVE}" STREQUAL "1")
  message(STATUS "skipped: it changes the system drive (C:\\ORVEL, "
                 "C:\\Program Files\\ORVEL\\ORVEL.exe) and runs only with "
                 "ORVEL_TESTS_MAY_CHANGE_SYSTEM_DRIVE=1")
  return()
endif()

set(workspace "C:/ORVEL/CLO3D_Plugin")
set(arguments)
set(exit_code 0)
set(expected_text)    # literal texts the output must hold
set(expected_match)   # regular expressions it must match
set(unexpected_text)  # literal texts it must not hold
unset(ENV{ORVEL_VIEWER_LINGER_MS})
unset(ENV{ORVEL_VIEWER_REPORT})

# What the viewer reports after a complete export of the built-in scene.
set(viewer_received
  "[host] viewer report: command line: C:\\Program Files\\ORVEL\\ORVEL.exe -Settings=\"${workspace}/API.json\"\n"
  "[host] viewer report: settings: ${workspace}/API.json\n"
  "[host] viewer report: model: ${workspace}/Prepped_For_ORVEL.glb\n")
# What the user is told after a complete export, right after the host's own
# message of the loaded file.
set(exported
  "[host] message 2: \"Exported project to ${workspace}/Prepped_For_ORVEL.glb\"\n"
  "[host] message 3: \"Attempting to open ORVEL.\"\n")

if(CASE STREQUAL "exports_to_viewer")
  # The export also removes what a host killed between writing
  # a temporary and renaming it left behind, but no temporary young enough
  # that another export may still be writing it.
  set(leftovers ON)
  set(expected_text
    "[host] project: built-in scene (1 mesh, 24 vertices)"
    "[host] export service: asked to write the project as GLB to \"${workspace}/Prepped_For_ORVEL.glb\""
    "[host] export service: wrote ${workspace}/Prepped_For_ORVEL.glb (1 mesh, 24 vertices, "
    "[host]       \"modelFile\": \"${workspace}/Prepped_For_ORVEL.glb\"\n"
    ${exported}
    ${viewer_received})
  set(expected_match
    "\\[host\\]   Prepped_For_ORVEL\\.glb \\([1-9][0-9]* bytes\\)"
    "\\[host\\] viewer report: summary: 1 mesh, 24 vertices, [1-9][0-9]* bytes\n")
  set(unexpected_text "Failed to open ORVEL." "viewer report: error:")
elseif(CASE STREQUAL "project_glb")
  set(arguments "${FILES}/two_panels.glb")
  set(expected_text "two_panels.glb (2 meshes, 7 vertices)" ${exported} ${viewer_received})
  set(expected_match "\\[host\\] viewer report: summary: 2 meshes, 7 vertices, [1-9][0-9]* bytes")
elseif(CASE STREQUAL "project_gltf")
  set(arguments "${FILES}/triangle.gltf")
  set(expected_text "triangle.gltf (1 mesh, 3 vertices)" ${exported} ${viewer_received})
  set(expected_match "\\[host\\] viewer report: summary: 1 mesh, 3 vertices, [1-9][0-9]* bytes")
elseif(CASE STREQUAL "no_viewer")
  set(arguments --no-viewer)
  set(expected_text
    ${exported}
    "[host] message 4: \"Failed to open ORVEL.  You can access your imported files at ${workspace}/\""
    "[host] no viewer is installed, so no viewer report is expected")
  set(unexpected_text "viewer report:")
elseif(CASE STREQUAL "no_export_service")
  set(arguments --no-export-service)
  set(expected_text
    "[host] services: utility yes, export no"
    "[host] message 2: \"EXPORT_API seems to not be defined. Something is wrong \""
    "[host] message 3: \"Attempting to open ORVEL.\""
    "[host]       \"modelFile\": \"\"\n"
    "[host] viewer report: error: settings file ${workspace}/API.json names no model (\"modelFile\" is empty)")
  set(unexpected_text "[host] export service:" "Exported project to")
elseif(CASE STREQUAL "export_writes_nothing")
  set(arguments --export-writes-nothing)
  set(expected_text
    "[host] export service: writes nothing (--export-writes-nothing)"
    "[host] message 2: \"CLO 3D did not write ${workspace}/Prepped_For_ORVEL.glb. ORVEL may show an earlier export.\""
    "[host] message 3: \"Attempting to open ORVEL.\""
    "[host] viewer report: error: ")
  set(unexpected_text "Exported project to")
elseif(CASE STREQUAL "full_disk")
  # The workspace folder is a small file system, filled up before the run
  # (as root only: elsewhere the case is skipped). An API.json from an earlier
  # run must stay as it was, and the user is told that none was written.
  set(full_disk ON)
  set(expected_text
    "[host] message 2: \"CLO 3D wrote an incomplete ${workspace}/Prepped_For_ORVEL.glb. ORVEL may not be able to open it.\""
    "[host] message 3: \"Could not write ${workspace}/API.json ("
    "). ORVEL may show an earlier export.\""
    "[host] message 4: \"Attempting to open ORVEL.\"")
  set(unexpected_text "Exported project to" ".tmp")
elseif(CASE STREQUAL "export_ends_host")
  # A host that dies inside the export: a GLB from an earlier run keeps its
  # bytes and time, and a second run, whose export writes nothing, still finds
  # that earlier file and says that the host did not write it.
  set(earlier_glb ON)
  set(arguments --export-writes-nothing)
  set(expected_text
    "[host] message 2: \"CLO 3D did not write ${workspace}/Prepped_For_ORVEL.glb. ORVEL may show an earlier export.\""
    "[host] message 3: \"Attempting to open ORVEL.\"")
  set(unexpected_text "Exported project to")
elseif(CASE STREQUAL "no_utility_service")
  set(arguments --no-utility-service)
  set(expected_text "[host] services: utility no, export yes" ${viewer_received})
  set(expected_match "\\[host\\] viewer report: summary: 1 mesh, 24 vertices")
  set(unexpected_text "[host] message")
elseif(CASE STREQUAL "file_type")
  set(arguments --file-type OBJ)
  set(expected_text "[host] message 1: \"DoFunctionAferLoadingProject starts... for file type -  OBJ\"")
elseif(CASE STREQUAL "help")
  set(arguments --help)
  set(expected_text "usage: orvel_host" "--no-viewer" "--no-export-service" "--export-writes-nothing"
    "--export-ends-host")
  set(unexpected_text "[host] loaded")
elseif(CASE STREQUAL "bad_option")
  set(arguments --bogus)
  set(exit_code 2)
  set(expected_text "orvel_host: unknown option --bogus" "usage: orvel_host")
elseif(CASE STREQUAL "module_missing")
  set(arguments --plugin nowhere/ORVELPlugin.module)
  set(exit_code 1)
  set(expected_text "[host] cannot load plug-in module nowhere/ORVELPlugin.module")
elseif(CASE STREQUAL "project_missing")
  set(arguments "nowhere.glb")
  set(exit_code 1)
  set(expected_text "[host] cannot open the project nowhere.glb: no such file")
else()
  message(FATAL_ERROR "unknown case '${CASE}'")
endif()

file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
# Under Wine (the build's prefix) and natively on Windows the C: drive outlives
# a case: each starts without the folders an earlier case's export left there
# (and without a full-disk mount that an interrupted run left behind).
if(EMULATOR AND DEFINED ENV{WINEPREFIX})
  execute_process(COMMAND umount "$ENV{WINEPREFIX}/drive_c/ORVEL/CLO3D_Plugin" OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE "$ENV{WINEPREFIX}/drive_c/ORVEL" "$ENV{WINEPREFIX}/drive_c/Program Files/ORVEL")
elseif(SYSTEM_DRIVE)
  file(REMOVE_RECURSE "C:/ORVEL" "C:/Program Files/ORVEL")
endif()
# A Windows program under Wine reaches the build tree through Z:, and only
# where a path fits Windows' 260 characters, which a deep build folder
# exceeds: a project from the viewer tests' files is read from a copy on C:.
if(EMULATOR AND DEFINED ENV{WINEPREFIX} AND CASE MATCHES "^project_")
  set(projects "$ENV{WINEPREFIX}/drive_c/orvel-projects")
  file(REMOVE_RECURSE "${projects}")
  file(COPY "${FILES}/" DESTINATION "${projects}")
  string(REPLACE "${FILES}/" "C:/orvel-projects/" arguments "${arguments}")
endif()
if(full_disk AND SYSTEM_DRIVE)
  message(STATUS "full-disk case skipped: a small file system is mounted only on Linux")
  return()
endif()
# The workspace folder as this machine sees it.
if(EMULATOR)
  set(disk "$ENV{WINEPREFIX}/drive_c/ORVEL/CLO3D_Plugin")
elseif(SYSTEM_DRIVE)
  set(disk "C:/ORVEL/CLO3D_Plugin")
else()
  set(disk "${FOLDER}/C:/ORVEL/CLO3D_Plugin")
endif()
if(full_disk)
  execute_process(COMMAND umount "${disk}" OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE "${disk}")
  file(MAKE_DIRECTORY "${disk}")
  execute_process(COMMAND mount -t tmpfs -o size=64k tmpfs "${disk}"
                  RESULT_VARIABLE mounted ERROR_VARIABLE why)
  if(NOT mounted EQUAL 0)
    message(STATUS "full-disk case skipped: cannot mount a small file system here (${why})")
    return()
  endif()
  set(earlier "{\"modelFile\": \"an earlier export.glb\"}")
  file(WRITE "${disk}/API.json" "${earlier}")
  execute_process(COMMAND dd if=/dev/zero "of=${disk}/filler" bs=4096 OUTPUT_QUIET ERROR_QUIET)
endif()
if(earlier_glb)
  # An earlier export, dated well in the past where the machine can set that.
  file(MAKE_DIRECTORY "${disk}")
  file(WRITE "${disk}/Prepped_For_ORVEL.glb" "an earlier export")
  find_program(touch_program touch)
  if(touch_program)
    execute_process(COMMAND ${touch_program} -d "2001-02-03 04:05:06" "${disk}/Prepped_For_ORVEL.glb")
  endif()
  file(SHA256 "${disk}/Prepped_For_ORVEL.glb" earlier_hash)
  file(TIMESTAMP "${disk}/Prepped_For_ORVEL.glb" earlier_time "%Y-%m-%d %H:%M:%S" UTC)
  execute_process(COMMAND ${EMULATOR} ${HOST} --export-ends-host WORKING_DIRECTORY "${FOLDER}"
                  RESULT_VARIABLE ended OUTPUT_VARIABLE ended_output ERROR_VARIABLE ended_output)
  message(STATUS "first run, ended inside the export: exit ${ended}\n${ended_output}---")
  if(NOT ended EQUAL 3 OR NOT ended_output MATCHES "export service: ends the host process")
    message(FATAL_ERROR "the host did not end inside the export")
  endif()
endif()
if(leftovers)
  # An old one only where the machine can date a file in the past.
  find_program(touch_program touch)
  if(touch_program)
    file(WRITE "${disk}/API.json.1-1.tmp" "left by a killed host")
    execute_process(COMMAND ${touch_program} -d "2001-02-03 04:05:06" "${disk}/API.json.1-1.tmp")
  else()
    message(STATUS "no old temporary planted: no touch program here to date it in the past")
  endif()
  file(WRITE "${disk}/API.json.2-2.tmp" "being written by another export")
endif()
execute_process(COMMAND ${EMULATOR} ${HOST} ${arguments} WORKING_DIRECTORY "${FOLDER}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(earlier_glb)
  file(SHA256 "${disk}/Prepped_For_ORVEL.glb" hash_after)
  file(TIMESTAMP "${disk}/Prepped_For_ORVEL.glb" time_after "%Y-%m-%d %H:%M:%S" UTC)
  if(NOT hash_after STREQUAL earlier_hash OR NOT time_after STREQUAL earlier_time)
    message(FATAL_ERROR "the earlier GLB changed: ${earlier_time} -> ${time_after}")
  endif()
endif()
if(full_disk)
  file(READ "${disk}/API.json" settings_after)
  file(GLOB left "${disk}/*.tmp")
  execute_process(COMMAND umount "${disk}")
  if(NOT settings_after STREQUAL earlier)
    message(FATAL_ERROR "the earlier API.json changed on the full disk: ${settings_after}")
  endif()
  if(left)
    message(FATAL_ERROR "temporary files left on the full disk: ${left}")
  endif()
endif()
# Output and errors, in one text; Windows programs end their lines in CRLF.
string(APPEND output "${errors}")
string(REPLACE "\r\n" "\n" output "${output}")
message(STATUS "exit ${result}\n--- output, then errors\n${output}---")

if(NOT result STREQUAL exit_code)
  message(FATAL_ERROR "expected exit code ${exit_code}, got ${result}")
endif()
if(leftovers AND (EXISTS "${disk}/API.json.1-1.tmp" OR NOT EXISTS "${disk}/API.json.2-2.tmp"))
  message(FATAL_ERROR "the old temporary was not removed, or the young one was")
endif()
foreach(text IN LISTS expected_text)
  string(FIND "${output}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the output lacks \"${text}\"")
  endif()
endforeach()
foreach(pattern IN LISTS expected_match)
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "the output does not match \"${pattern}\"")
  endif()
endforeach()
foreach(text IN LISTS unexpected_text)
  string(FIND "${output}" "${text}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the output holds \"${text}\"")
  endif()
endforeach()
