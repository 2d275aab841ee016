# Runs the layout gate of the option record (cmake/OptionRecordLayout.cmake,
# -DSCRIPT=) in -DWORK= with -DCOMPILER= on each row's SDK header: records of
# tests/option_record_variants.h (-DVARIANTS=), picked by ORVEL_VARIANT, and
# the headers of the stand-in SDK and of the second SDK (-DSOURCE=), which
# have the host's layout under other member names. A row with arguments
# configures the project (-DSOURCE=) against the variant as an SDK instead,
# with the build's C++ compiler -DCXX= and its generator -DGENERATOR= (unless
# the row names one), so that the gate reads the header with the definitions
# that configure computes.
cmake_minimum_required(VERSION 3.25)

# Rows: name | header: a variant's number or a folder | "-" to run the gate
# as a script; "msvc:" and flags to run it as a script with MSVC set and those
# flags as a Release build's, its definitions read from them as a configure
# reads them; or the configure's arguments (comma-separated) | what the
# output must match ("OK" for success).
set(rows
  "text behind a pointer|1|-|offset 136 holds \"class std::basic_string<char> \\* text\", not this runtime's std::string"
  "the SDK's own text class|2|-|offset 136 holds \"class Marvelous::Text label\""
  "a second polymorphic base|3|-|2 virtual table pointer\\(s\\) \\(at 0, 8\\)"
  "a wide string|4|-|offset 136 holds \"class std::basic_string<wchar_t> label\""
  "the text at offset 8|5|-|no member of the record or of its base classes begins at offset 136"
  "a 40-byte text|6|-|it is 184 bytes, not 176"
  "a virtual base|7|-|it has a virtual base"
  "a polymorphic base class|8|-|OK"
  "a pointer at 8|9|-|\"void \\* context\" at offset 8 is or holds a pointer"
  "a second text at 8|10|-|\"char \\* _M_p\" at offset 8 is or holds a pointer"
  "a text view at 8|11|-|\"const char \\* _M_str\" at offset 16 is or holds a pointer"
  "a typedef of a pointer|12|-|\"void \\* window\" at offset 8 is or holds a pointer"
  "pointers in an array's records|13|-|\"const char \\* name\" at offset 0 of \"struct Marvelous::Entry\", held in \"struct Marvelous::Entry\\[2\\] entries\" at offset 8"
  "an empty virtual base|14|-|it has a virtual base"
  "plain values in nested records|15|-|OK"
  "the values in a base class, the record an alias|16|-|OK"
  "a pointer at 8 with NDEBUG only, read without it|17|-|OK"
  "a pointer at 8 with NDEBUG only, a Release configure|17|-DCMAKE_BUILD_TYPE=Release|\"void \\* context\" at offset 8 is or holds a pointer.* with -DNDEBUG"
  "a pointer at 8 with NDEBUG only, a Debug configure|17|-DCMAKE_BUILD_TYPE=Debug|OK"
  "a pointer at 8 with NDEBUG only, a Debug configure whose flags define it|17|-DCMAKE_BUILD_TYPE=Debug,-DCMAKE_CXX_FLAGS=-Wall -D NDEBUG|\"void \\* context\" at offset 8 is or holds a pointer"
  "a pointer at 8 with NDEBUG only, a multi-configuration generator's Release|17|-G,Ninja Multi-Config|\"void \\* context\" at offset 8 is or holds a pointer.* with -DNDEBUG"
  "a pointer at 8 with NDEBUG only, MSVC's Release flags|17|msvc:/O2 /Ob2 /DNDEBUG|\"void \\* context\" at offset 8 is or holds a pointer.* with -DNDEBUG"
  "a pointer at 8 with NDEBUG only, MSVC flags defining it apart|17|msvc:/O2 -D NDEBUG|\"void \\* context\" at offset 8 is or holds a pointer.* with -DNDEBUG"
  "the stand-in SDK|${SOURCE}/standins/host_sdk/include|-|OK"
  "the second SDK|${SOURCE}/tests/second_sdk/include|-|OK")
file(REMOVE_RECURSE ${WORK})
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 header)
  list(GET fields 2 arguments)
  list(GET fields 3 expected)
  if(header MATCHES "^[0-9]+$")
    set(sdk ${WORK}/variant-${header})
    file(WRITE ${sdk}/include/CLOAPIInterface.h
         "#define ORVEL_VARIANT ${header}\n#include \"${VARIANTS}\"\n")
    file(WRITE ${sdk}/lib/libCLOAPIInterface.so "")
    set(header ${sdk}/include)
  endif()
  if(arguments STREQUAL "-")
    set(command ${CMAKE_COMMAND} -DINCLUDE_DIR=${header} -DWORK=${WORK}/work
                -DCOMPILER=${COMPILER} -P ${SCRIPT})
  elseif(arguments MATCHES "^msvc:(.*)$")
    # The gate's own functions, from a script that sets what an MSVC
    # configure has; this clang reads the header with the definitions found.
    file(WRITE ${WORK}/msvc-gate.cmake
         "include(${SCRIPT})\n"
         "orvel_option_record_build_definitions(definitions)\n"
         "orvel_check_option_record_layout(${header} ${WORK}/work ${COMPILER}\n"
         "                                 \"-std=c++17;-fsyntax-only;\${definitions}\")\n")
    set(command ${CMAKE_COMMAND} -DMSVC=ON -DCMAKE_BUILD_TYPE=Release
                "-DCMAKE_CXX_FLAGS_RELEASE=${CMAKE_MATCH_1}" -P ${WORK}/msvc-gate.cmake)
  else()
    string(REPLACE "," ";" arguments "${arguments}")
    if(NOT "-G" IN_LIST arguments)
      list(APPEND arguments -G ${GENERATOR})
    endif()
    file(REMOVE_RECURSE ${WORK}/configure)
    set(command ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/configure -DCMAKE_CXX_COMPILER=${CXX}
                -DORVEL_HOST_SDK_DIR=${sdk} -DORVEL_BUILD_TESTS=OFF -DORVEL_BUILD_STANDINS=OFF
                ${arguments})
  endif()
  execute_process(COMMAND ${command}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " flat "${output}")
  if(expected STREQUAL "OK")
    if(failed OR NOT flat MATCHES "176 bytes, one virtual table pointer at 0")
      message(FATAL_ERROR "${name}: the gate should accept ${header}, got (${failed}):\n${output}")
    endif()
  elseif(NOT failed OR NOT flat MATCHES "not laid out as the plug-in fills it.*${expected}")
    message(FATAL_ERROR "${name}: the gate should refuse saying \"${expected}\", got (${failed}):\n${output}")
  endif()
  message(STATUS "${name}: as expected")
endforeach()
