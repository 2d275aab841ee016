# The release build cannot be configured without the host's real SDK: with
# ORVEL_RELEASE_BUILD=ON and no ORVEL_HOST_SDK_DIR the project (-DSOURCE=)
# refuses to configure, in -DWORK=, naming the variable; with a folder that is
# no SDK it names the file missing. The presets (-DPRESETS=) turn the rule on
# for windows-msvc and off for windows-msvc-ci, which builds the stand-in, and
# every test preset fails when no test ran (a release gate that built no test
# must not pass).
cmake_minimum_required(VERSION 3.25)

# Rows: name | arguments (comma-separated) | what the output must match.
set(rows
  "no SDK|-DORVEL_RELEASE_BUILD=ON|set ORVEL_HOST_SDK_DIR to its folder"
  "no SDK in the folder|-DORVEL_RELEASE_BUILD=ON,-DORVEL_HOST_SDK_DIR=${WORK}/empty|ORVEL_HOST_SDK_DIR is [^ ]*/empty, but [^ ]*/empty/include/CLOAPIInterface.h is missing")
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/empty)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 arguments)
  list(GET fields 2 expected)
  string(REPLACE "," ";" arguments "${arguments}")
  file(REMOVE_RECURSE ${WORK}/build)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build ${arguments}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " flat "${output}")
  if(NOT failed OR NOT flat MATCHES "${expected}")
    message(FATAL_ERROR "${name}: configuring should fail saying \"${expected}\", got (${failed}):\n${output}")
  endif()
  message(STATUS "${name}: fails as it should")
endforeach()

file(READ ${PRESETS} presets)
string(JSON count LENGTH "${presets}" configurePresets)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON name GET "${presets}" configurePresets ${index} name)
  string(JSON release ERROR_VARIABLE unset GET "${presets}" configurePresets ${index} cacheVariables
         ORVEL_RELEASE_BUILD)
  set(rule_of_${name} "${release}")
endforeach()
if(NOT rule_of_windows-msvc STREQUAL "ON" OR NOT rule_of_windows-msvc-ci STREQUAL "OFF")
  message(FATAL_ERROR "windows-msvc must set ORVEL_RELEASE_BUILD ON (sets \"${rule_of_windows-msvc}\") and "
                      "windows-msvc-ci OFF (sets \"${rule_of_windows-msvc-ci}\")")
endif()
message(STATUS "windows-msvc sets ORVEL_RELEASE_BUILD ON, windows-msvc-ci OFF")

string(JSON count LENGTH "${presets}" testPresets)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON name GET "${presets}" testPresets ${index} name)
  string(JSON action ERROR_VARIABLE unset GET "${presets}" testPresets ${index} execution noTestsAction)
  if(NOT action STREQUAL "error")
    message(FATAL_ERROR "test preset ${name} passes when no test ran: set execution.noTestsAction to \"error\"")
  endif()
endforeach()
message(STATUS "every test preset fails when no test ran")
