# The layout gate of the host's option record. The plug-in fills
# Marvelous::ImportExportOption by byte offset (export/export_option.cpp), so
# an SDK whose record is laid out otherwise would have it write into the wrong
# members. Building against an SDK therefore first asks clang for its
# record-layout report of the SDK's header (-Xclang -fdump-record-layouts) and
# reads it for offsets and types only, never for member names. It stops,
# saying what differs, unless the record
#   - is 176 bytes,
#   - has exactly one virtual table pointer, at offset 0 (no base class or
#     member adds another, and there is no virtual base), and
#   - holds this runtime's std::string at offset 136, with no other member
#     beginning before 168 (the string is 32 bytes, which the report's
#     compile checks).
#
# Included by CMakeLists.txt (orvel_gate_option_record_layout), or run as a
# script on one header folder:
#   cmake -DINCLUDE_DIR=<folder of CLOAPIInterface.h> -DWORK=<scratch folder>
#         -DCOMPILER=<clang++> [-DFLAGS=<flags, separated by |>] -P OptionRecordLayout.cmake
include_guard(GLOBAL)

# The clang that reads the record as this build's compiler lays it out, in
# ORVEL_LAYOUT_COMPILER, and its flags in the variable named by `flags_var`.
# MSVC: clang-cl (Visual Studio's own first, then LLVM's), which finds the same
# Microsoft runtime headers, in Release (/MD). Otherwise clang++ with this
# compiler's own standard library headers and, for MinGW, its target.
function(orvel_option_record_layout_tool flags_var)
  if(MSVC)
    string(REGEX REPLACE "/MSVC/.*$" "/Llvm/x64/bin" visual_studio_llvm "${CMAKE_CXX_COMPILER}")
    find_program(ORVEL_LAYOUT_COMPILER NAMES clang-cl
                 HINTS ${visual_studio_llvm} "$ENV{ProgramFiles}/LLVM/bin")
    # Only the layout is read: a clang older than the runtime's headers ask
    # for is let through.
    set(flags --target=x86_64-pc-windows-msvc /std:c++17 /MD /EHsc /Zs
              -D_ALLOW_COMPILER_AND_STL_VERSION_MISMATCH)
  else()
    find_program(ORVEL_LAYOUT_COMPILER NAMES clang++ clang++-14)
    set(flags -std=c++17 -fsyntax-only -nostdinc -nostdinc++)
    foreach(folder IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
      list(APPEND flags -isystem ${folder})
    endforeach()
    if(MINGW)
      list(APPEND flags --target=x86_64-w64-mingw32)
    endif()
  endif()
  if(NOT ORVEL_LAYOUT_COMPILER)
    message(FATAL_ERROR
      "Building against the host's SDK needs clang (clang-cl with MSVC) to check the layout of "
      "the SDK's option record, and none was found. Install it (Visual Studio's \"C++ Clang "
      "tools for Windows\", LLVM, or Debian's clang) or set ORVEL_LAYOUT_COMPILER to it.")
  endif()
  set(${flags_var} "${flags}" PARENT_SCOPE)
endfunction()

# Stops unless the record in `include_dir`/CLOAPIInterface.h has the layout
# above, as `compiler` with `flags` (a list) reports it. `work` is a scratch
# folder for the report's source.
function(orvel_check_option_record_layout include_dir work compiler flags)
  set(header ${include_dir}/CLOAPIInterface.h)
  file(MAKE_DIRECTORY ${work})
  file(WRITE ${work}/option_record_layout.cpp
       "#include <string>\n#include \"CLOAPIInterface.h\"\n"
       "static_assert(sizeof(std::string) == 32, \"this runtime's std::string is not 32 bytes\");\n"
       "constexpr auto orvel_record_size = sizeof(Marvelous::ImportExportOption);\n")
  execute_process(COMMAND ${compiler} ${flags} -Xclang -fdump-record-layouts -I${include_dir}
                          option_record_layout.cpp
                  WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE report ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "${compiler} could not read ${header} to check the option record's "
                        "layout (${failed}):\n${errors}")
  endif()

  # The record's own report: from its first line to the line with its sizes.
  string(REGEX MATCH "\n *0 \\| (class|struct) Marvelous::ImportExportOption\n" top "${report}")
  if(NOT top)
    message(FATAL_ERROR "${compiler}'s record-layout report of ${header} has no "
                        "Marvelous::ImportExportOption: the header does not define that class.")
  endif()
  string(FIND "${report}" "${top}" begin)
  string(SUBSTRING "${report}" ${begin} -1 record)
  string(FIND "${record}" "nvalign=" end)
  string(SUBSTRING "${record}" 0 ${end} record)
  # Brackets and semicolons would split the lines of a CMake list wrongly.
  string(REPLACE "[" "{" record "${record}")
  string(REPLACE "]" "}" record "${record}")
  string(REPLACE ";" "," record "${record}")
  string(REGEX MATCHALL "[^\n]+" lines "${record}")
  list(REMOVE_AT lines 0)

  # Lines are "offset | what", indented by depth; members and bases of the
  # record itself are indented by two spaces, what lies inside them by more.
  set(size "")
  set(pointers "")
  set(faults "")
  set(text "")
  foreach(line IN LISTS lines)
    if(line MATCHES "sizeof=([0-9]+)")
      set(size ${CMAKE_MATCH_1})
      continue()
    elseif(NOT line MATCHES "^ *([0-9]+)(:[0-9]+-[0-9]+)? \\| ( *)(.*)$")
      continue()
    endif()
    set(offset ${CMAKE_MATCH_1})
    set(what "${CMAKE_MATCH_4}")
    string(REPLACE "{" "[" what "${what}")
    string(REPLACE "}" "]" what "${what}")
    string(LENGTH "${CMAKE_MATCH_3}" indent)
    if(what MATCHES "^\\(.* vf?table pointer\\)$")
      list(APPEND pointers ${offset})
    elseif(what MATCHES "virtual base\\)$|vbtable pointer")
      list(APPEND faults "it has a virtual base (${what} at offset ${offset})")
    elseif(NOT indent EQUAL 2 OR what MATCHES "\\((primary )?base\\)( \\(empty\\))?$")
      continue()
    elseif(offset EQUAL 136)
      set(text "${what}")
    elseif(offset GREATER 136 AND offset LESS 168)
      list(APPEND faults "\"${what}\" begins at offset ${offset}, inside the text's place (136 to 167)")
    endif()
  endforeach()

  if(NOT size EQUAL 176)
    list(APPEND faults "it is ${size} bytes, not 176")
  endif()
  if(NOT pointers STREQUAL "0")
    list(LENGTH pointers count)
    string(REPLACE ";" ", " pointers "${pointers}")
    list(APPEND faults "it has ${count} virtual table pointer(s) (at ${pointers}), not exactly one, at offset 0")
  endif()
  set(standard_string
      "^(class|struct) std::(__[a-z0-9_]+::)?basic_string<char(, std::char_traits<char>, std::allocator<char> ?)?> ")
  if(text STREQUAL "")
    list(APPEND faults "no member begins at offset 136, where this runtime's std::string must lie")
  elseif(NOT text MATCHES "${standard_string}")
    list(APPEND faults "offset 136 holds \"${text}\", not this runtime's std::string")
  endif()

  if(faults)
    list(JOIN faults "\n  - " faults)
    message(FATAL_ERROR
      "The option record Marvelous::ImportExportOption of ${header} is not laid out as the "
      "plug-in fills it (by offset), so building against this SDK would write into the wrong "
      "members:\n  - ${faults}\n(read from ${compiler}'s record-layout report)")
  endif()
  message(STATUS "Option record of ${header}: 176 bytes, one virtual table pointer at 0, this "
                 "runtime's std::string at 136 to 167 (read by ${compiler})")
endfunction()

# At configure time, against the SDK in `sdk_dir`; a changed header
# configures again, and so checks again.
function(orvel_gate_option_record_layout sdk_dir)
  orvel_option_record_layout_tool(flags)
  orvel_check_option_record_layout(${sdk_dir}/include ${CMAKE_BINARY_DIR}/option-record-layout
                                   ${ORVEL_LAYOUT_COMPILER} "${flags}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${sdk_dir}/include/CLOAPIInterface.h)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED FLAGS)
    set(FLAGS "-std=c++17|-fsyntax-only")
  endif()
  string(REPLACE "|" ";" FLAGS "${FLAGS}")
  get_filename_component(INCLUDE_DIR ${INCLUDE_DIR} ABSOLUTE)
  orvel_check_option_record_layout(${INCLUDE_DIR} ${WORK} ${COMPILER} "${FLAGS}")
endif()
