# The layout gate of the host's option record. The plug-in fills
# Marvelous::ImportExportOption by byte offset (export/export_option.cpp):
# plain values over offsets 8 to 135 and 168 to 175, and a clear() of the
# std::string at 136. An SDK whose record is laid out otherwise would have it
# write into the wrong members. Building against an SDK therefore first asks
# clang for its record-layout report of the SDK's header, with canonical
# types (-Xclang -fdump-record-layouts-canonical: a typedef of a pointer is
# printed as the pointer), and reads it for offsets and types only, never for
# member names. It stops, saying what differs, unless the record
#   - is 176 bytes,
#   - has exactly one virtual table pointer, at offset 0 (no base class or
#     member adds another, and there is no virtual base),
#   - holds this runtime's std::string at offset 136, as its own member or
#     one of a base class, with no other such member beginning before 168
#     (the string is 32 bytes, which the report's compile checks), and
#   - has no pointer or reference outside 136 to 167, at any depth: in its
#     members, in the members of records among them, and in the records that
#     arrays among them hold.
#
# The header is read as the build compiles it: with the -D definitions of
# CMAKE_CXX_FLAGS and CMAKE_CXX_FLAGS_<CONFIG> (NDEBUG in Release; WIN32 and
# _WINDOWS with MSVC), since a record may differ with them.
#
# Included by CMakeLists.txt (orvel_gate_option_record_layout), or run as a
# script on one header folder, with the definitions among the flags:
#   cmake -DINCLUDE_DIR=<folder of CLOAPIInterface.h> -DWORK=<scratch folder>
#         -DCOMPILER=<clang++> [-DFLAGS=<flags, separated by |>] -P OptionRecordLayout.cmake
include_guard(GLOBAL)

# The clang that reads the record as this build's compiler lays it out, in
# ORVEL_LAYOUT_COMPILER, and its flags in the variable named by `flags_var`.
# MSVC: clang-cl (Visual Studio's own first, then LLVM's), which finds the same
# Microsoft runtime headers, in Release (/MD). Otherwise clang++ with this
# compiler's own standard library headers and, for MinGW, its target.
# `purpose` begins the message when there is none: what needs it.
function(orvel_option_record_layout_tool flags_var purpose)
  if(MSVC)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      # clang-cl builds this: the record is read by the compiler itself.
      set(ORVEL_LAYOUT_COMPILER ${CMAKE_CXX_COMPILER} CACHE FILEPATH "clang that reads the option record's layout")
    endif()
    string(REGEX REPLACE "/MSVC/.*$" "/Llvm/x64/bin" visual_studio_llvm "${CMAKE_CXX_COMPILER}")
    find_program(ORVEL_LAYOUT_COMPILER NAMES clang-cl clang-cl-19
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
      "${purpose} needs clang (clang-cl with MSVC) to check the layout of an SDK's option "
      "record, and none was found. Install it (Visual Studio's \"C++ Clang "
      "tools for Windows\", LLVM, or Debian's clang) or set ORVEL_LAYOUT_COMPILER to it.")
  endif()
  set(${flags_var} "${flags}" PARENT_SCOPE)
endfunction()

# The lines of the record-layout report `report` that lay out the record
# `type` (as the report spells it), after its first line and up to its sizes,
# in `lines_var`; empty if the report has no such record. Brackets and
# semicolons, which would split a CMake list wrongly, are written as braces
# and commas.
function(orvel_record_layout_lines report type lines_var)
  set(lines "")
  foreach(top "| ${type}\n" "| ${type} (empty)\n")
    string(FIND "${report}" "${top}" begin)
    if(begin GREATER -1)
      string(SUBSTRING "${report}" ${begin} -1 record)
      string(FIND "${record}" "nvalign=" end)
      string(SUBSTRING "${record}" 0 ${end} record)
      string(REPLACE "[" "{" record "${record}")
      string(REPLACE "]" "}" record "${record}")
      string(REPLACE ";" "," record "${record}")
      string(REGEX MATCHALL "[^\n]+" lines "${record}")
      list(REMOVE_AT lines 0)
      break()
    endif()
  endforeach()
  set(${lines_var} "${lines}" PARENT_SCOPE)
endfunction()

# Reads one line of a record-layout report, "offset | what" indented by depth:
# sets `offset`, `indent` (of `what`, 0 for the record itself) and `what` (with
# its brackets back), or `offset` to "" for a line that lays out nothing.
macro(orvel_read_layout_line line)
  set(offset "")
  if("${line}" MATCHES "^ *([0-9]+)(:[0-9]+-[0-9]+)? \\| ( *)(.*)$")
    set(offset ${CMAKE_MATCH_1})
    set(what "${CMAKE_MATCH_4}")
    string(LENGTH "${CMAKE_MATCH_3}" indent)
    string(REPLACE "{" "[" what "${what}")
    string(REPLACE "}" "]" what "${what}")
  endif()
endmacro()

# Whether the layout line `what` (a type, then the member's name) lays out a
# pointer or a reference, in `pointer_var`: its type, without template
# arguments and without the source place that names an unnamed record, has a
# "*" (also member and function pointers) or a "&". An array of records, whose
# members the report lists only under the record itself, names that record
# in `element_var` (else empty).
function(orvel_layout_holds_pointer what pointer_var element_var)
  string(REGEX REPLACE " [^ ]*$" "" type "${what}")
  string(REGEX REPLACE "\\((anonymous|unnamed) at .*:[0-9]+:[0-9]+\\)" "" plain "${type}")
  while(plain MATCHES "<[^<>]*>")
    string(REGEX REPLACE "<[^<>]*>" "" plain "${plain}")
  endwhile()
  set(${pointer_var} OFF PARENT_SCOPE)
  if(plain MATCHES "[*&]")
    set(${pointer_var} ON PARENT_SCOPE)
  endif()
  set(element "")
  if(type MATCHES "^(class|struct|union) .*\\]$")
    while(type MATCHES "^(.*)\\[[0-9]+\\]$")
      set(type "${CMAKE_MATCH_1}")
      set(element "${type}")
    endwhile()
  endif()
  set(${element_var} "${element}" PARENT_SCOPE)
endfunction()

# The -D definitions this build compiles the plug-in with, as flags for the
# clang that reads the header (clang++ and clang-cl both take -D), in
# `definitions_var`: those in CMAKE_CXX_FLAGS and CMAKE_CXX_FLAGS_<CONFIG>,
# joined (-DNAME) or apart (-D NAME), and with MSVC also as /D. The include
# folders and MSVC version those flags give (-I, -isystem, clang-cl's -imsvc,
# -fms-compatibility-version) follow them, so the header's own includes
# (<string>) are the build's: a clang-cl build against a sysroot names
# Microsoft's headers there, where Visual Studio's are found without. CONFIG is
# CMAKE_BUILD_TYPE, or Release with a multi-configuration generator (Visual
# Studio): the MSVC presets build Release, and export_option.h refuses a
# debugging runtime's configuration.
function(orvel_option_record_build_definitions definitions_var)
  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi_config)
    set(config RELEASE)
  else()
    string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  endif()
  set(switch "-D")
  if(MSVC)
    set(switch "[-/]D")
  endif()
  separate_arguments(words NATIVE_COMMAND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}")
  set(definitions "")
  set(folders "")
  set(apart "")
  foreach(word IN LISTS words)
    if(apart)
      list(APPEND ${apart} ${word})
      set(apart "")
    elseif(word MATCHES "^${switch}$")
      set(apart definitions)
      list(APPEND definitions -D)
    elseif(word MATCHES "^${switch}(.+)$")
      list(APPEND definitions -D${CMAKE_MATCH_1})
    elseif(word MATCHES "^[-/](I|imsvc|isystem)$")
      set(apart folders)
      list(APPEND folders -${CMAKE_MATCH_1})
    elseif(word MATCHES "^[-/](I|imsvc|isystem)(.+)$")
      list(APPEND folders -${CMAKE_MATCH_1}${CMAKE_MATCH_2})
    elseif(word MATCHES "^-fms-compatibility-version=")
      list(APPEND folders ${word})
    endif()
  endforeach()
  # A definition given apart is joined to its switch.
  string(REPLACE "-D;" "-D" definitions "${definitions}")
  set(${definitions_var} "${definitions};${folders}" PARENT_SCOPE)
endfunction()

# Stops unless the record in `include_dir`/CLOAPIInterface.h has the layout
# above, as `compiler` with `flags` (a list) reports it. `work` is a scratch
# folder for the report's source.
function(orvel_check_option_record_layout include_dir work compiler flags)
  set(header ${include_dir}/CLOAPIInterface.h)
  file(MAKE_DIRECTORY ${work})
  # The probe's one member names the record by the type the report prints,
  # also when the header makes Marvelous::ImportExportOption an alias.
  file(WRITE ${work}/option_record_layout.cpp
       "#include <string>\n#include \"CLOAPIInterface.h\"\n"
       "static_assert(sizeof(std::string) == 32, \"this runtime's std::string is not 32 bytes\");\n"
       "struct orvel_option_record_probe { Marvelous::ImportExportOption record; };\n"
       "constexpr auto orvel_record_size = sizeof(orvel_option_record_probe);\n")
  execute_process(COMMAND ${compiler} ${flags} -Xclang -fdump-record-layouts-canonical
                          -I${include_dir} option_record_layout.cpp
                  WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE report ERROR_VARIABLE errors)
  # The definitions it was read with, for the messages.
  set(definitions ${flags})
  list(FILTER definitions INCLUDE REGEX "^[-/]D")
  list(JOIN definitions " " definitions)
  if(definitions STREQUAL "")
    set(definitions "no definitions")
  endif()
  if(failed)
    message(FATAL_ERROR "${compiler} could not read ${header} with ${definitions} to check the "
                        "option record's layout (${failed}):\n${errors}")
  endif()

  orvel_record_layout_lines("${report}" "struct orvel_option_record_probe" probe)
  set(record "")
  set(lines "")
  if(probe)
    list(GET probe 0 line)
    orvel_read_layout_line("${line}")
    string(REGEX REPLACE " record$" "" record "${what}")
    orvel_record_layout_lines("${report}" "${record}" lines)
  endif()
  if(NOT lines)
    message(FATAL_ERROR "${compiler}'s record-layout report of ${header} holds no layout of "
                        "Marvelous::ImportExportOption (looked for as \"${record}\").")
  endif()

  # The record's own members and those of its (non-virtual) base classes,
  # which lie in the record as its own do, are indented by 2 to `own`; what
  # lies inside a member is indented by more.
  set(size "")
  set(pointers "")
  set(faults "")
  set(text "")
  set(arrays "")
  set(own 2)
  foreach(line IN LISTS lines)
    if(line MATCHES "sizeof=([0-9]+)")
      set(size ${CMAKE_MATCH_1})
      continue()
    endif()
    orvel_read_layout_line("${line}")
    if(offset STREQUAL "")
      continue()
    endif()
    if(what MATCHES "^\\(.* vf?table pointer\\)$")
      list(APPEND pointers ${offset})
    elseif(what MATCHES "\\(virtual base\\)|vbtable pointer")
      list(APPEND faults "it has a virtual base (${what} at offset ${offset})")
    elseif(offset LESS 136 OR offset GREATER 167)
      orvel_layout_holds_pointer("${what}" pointer element)
      if(pointer)
        list(APPEND faults "\"${what}\" at offset ${offset} is or holds a pointer or reference")
      elseif(element)
        list(APPEND arrays "${element}|${what}|${offset}")
      endif()
    endif()
    if(indent GREATER own)
      continue()
    endif()
    set(own ${indent})
    if(what MATCHES "\\((primary )?base\\)( \\(empty\\))?$")
      math(EXPR own "${indent} + 2")
    elseif(offset EQUAL 136)
      set(text "${what}")
    elseif(offset GREATER 136 AND offset LESS 168)
      list(APPEND faults "\"${what}\" begins at offset ${offset}, inside the text's place (136 to 167)")
    endif()
  endforeach()

  # Arrays of records outside the text's place: the members of each record,
  # and of records it holds in arrays, at any offset.
  set(seen "")
  while(arrays)
    list(POP_FRONT arrays entry)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 element)
    list(GET entry 1 array)
    list(GET entry 2 array_offset)
    list(FIND seen "${element}" index)
    if(index GREATER -1)
      continue()
    endif()
    list(APPEND seen "${element}")
    orvel_record_layout_lines("${report}" "${element}" element_lines)
    if(NOT element_lines)
      list(APPEND faults "the report does not lay out \"${element}\", held in \"${array}\" at offset ${array_offset}")
    endif()
    foreach(line IN LISTS element_lines)
      orvel_read_layout_line("${line}")
      if(NOT offset STREQUAL "")
        orvel_layout_holds_pointer("${what}" pointer inner)
        if(pointer)
          list(APPEND faults "\"${what}\" at offset ${offset} of \"${element}\", held in \"${array}\" at offset ${array_offset}, is or holds a pointer or reference")
        elseif(inner)
          list(APPEND arrays "${inner}|${array}|${array_offset}")
        endif()
      endif()
    endforeach()
  endwhile()

  if(NOT size EQUAL 176)
    list(APPEND faults "it is ${size} bytes, not 176")
  endif()
  if(NOT pointers STREQUAL "0")
    list(LENGTH pointers count)
    string(REPLACE ";" ", " pointers "${pointers}")
    list(APPEND faults "it has ${count} virtual table pointer(s) (at ${pointers}), not exactly one, at offset 0")
  endif()
  # This runtime's std::string, as clang prints it: the standard traits and
  # allocator are left out as defaulted arguments or spelled out, with or
  # without their tag keywords; an inline namespace may be named. The member's
  # name follows: not a pointer, reference or array of strings.
  set(std "std::(__[a-z0-9_]+::)?")
  set(standard_string "^(class|struct) ${std}basic_string<char(, ((class|struct) )?${std}char_traits<char>, ((class|struct) )?${std}allocator<char> ?)?> [A-Za-z_][A-Za-z0-9_]*$")
  if(text STREQUAL "")
    list(APPEND faults "no member of the record or of its base classes begins at offset 136, where this runtime's std::string must lie")
  elseif(NOT text MATCHES "${standard_string}")
    list(APPEND faults "offset 136 holds \"${text}\", not this runtime's std::string")
  endif()

  if(faults)
    list(JOIN faults "\n  - " faults)
    message(FATAL_ERROR
      "The option record Marvelous::ImportExportOption of ${header} is not laid out as the "
      "plug-in fills it (by offset), so building against this SDK would write into the wrong "
      "members:\n  - ${faults}\n(read from ${compiler}'s record-layout report with ${definitions}, "
      "types as canonical; the plug-in writes plain values over offsets 8 to 135 and 168 to 175, "
      "and clears the string at 136)")
  endif()
  message(STATUS "Option record of ${header}: 176 bytes, one virtual table pointer at 0, this "
                 "runtime's std::string at 136 to 167, no pointer or reference outside it (read by "
                 "${compiler} with ${definitions})")
endfunction()

# At configure time, against the SDK in `sdk_dir`; a changed header
# configures again, and so checks again.
function(orvel_gate_option_record_layout sdk_dir purpose)
  orvel_option_record_layout_tool(flags "${purpose}")
  orvel_option_record_build_definitions(definitions)
  list(APPEND flags ${definitions})
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
