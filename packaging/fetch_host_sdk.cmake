# Fetches the host's real SDK for the release build and checks it against the
# SHA-256 pinned in the repository. Run with -DDESTINATION= (an empty scratch
# folder) and -DPIN= (packaging/host-sdk.sha256); optionally -DENV_FILE= and
# -DPATH_FILE= (GitHub's GITHUB_ENV and GITHUB_PATH), to which it adds
# ORVEL_HOST_SDK_DIR and, when the SDK has one, its bin folder.
#
# The SDK is a ZIP at the URL in the environment variable CLO_SDK_ZIP_URL (a
# secret of the GitHub environment "release"), fetched with "Accept:
# application/octet-stream" (without it, a GitHub release asset's API URL
# answers with JSON about the asset) and, when CLO_SDK_TOKEN is set and only
# over https, "Authorization: Bearer $CLO_SDK_TOKEN". The server's certificate
# is always verified, against the system's authorities or, for a server whose
# authority is private, the file given with -DCMAKE_TLS_CAINFO=. The ZIP holds
# include/CLOAPIInterface.h and lib/CLOAPIInterface.lib
# (lib/libCLOAPIInterface.so on Linux), and bin/ with the SDK's DLL if it has
# one, at its top or in one folder. What came back is looked into before its
# SHA-256 is compared or shown, so that no hash of a sign-in page or an error
# answer is ever offered for pinning.
cmake_minimum_required(VERSION 3.25)

# Stops with the text of all its arguments, joined as given (semicolons
# kept), also as an error annotation when run by GitHub Actions, whose
# workflow commands read "%" and line ends as escapes.
function(stop)
  set(text "")
  math(EXPR last "${ARGC} - 1")
  foreach(index RANGE ${last})
    string(APPEND text "${ARGV${index}}")
  endforeach()
  if(DEFINED ENV{GITHUB_ACTIONS})
    string(REPLACE "%" "%25" annotation "${text}")
    string(REPLACE "\r" "%0D" annotation "${annotation}")
    string(REPLACE "\n" "%0A" annotation "${annotation}")
    message(NOTICE "::error title=Host SDK::${annotation}")
  endif()
  message(FATAL_ERROR "${text}")
endfunction()

if("$ENV{CLO_SDK_ZIP_URL}" STREQUAL "")
  stop("The host's SDK is not available: the secret CLO_SDK_ZIP_URL (the URL of the SDK's ZIP) "
       "of the GitHub environment \"release\" is not set, nor, if that URL needs one, "
       "CLO_SDK_TOKEN (its bearer token). Without the SDK no build for users is made, and "
       "nothing is released.")
endif()

# The pinned SHA-256: the first word of the first line that is not blank or a
# comment (so `sha256sum` output will do).
set(pinned "")
if(EXISTS ${PIN})
  file(STRINGS ${PIN} lines REGEX "^[ \t]*[^# \t]")
  if(lines)
    list(GET lines 0 line)
    string(REGEX MATCH "[^ \t]+" pinned "${line}")
    string(TOLOWER "${pinned}" pinned)
    string(LENGTH "${pinned}" length)
    if(NOT pinned MATCHES "^[0-9a-f]+$" OR NOT length EQUAL 64)
      stop("${PIN} holds \"${pinned}\", which is no SHA-256 (64 hexadecimal digits).")
    endif()
  endif()
endif()

file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})
set(archive ${DESTINATION}/host-sdk.zip)
set(headers HTTPHEADER "Accept: application/octet-stream")
if(NOT "$ENV{CLO_SDK_TOKEN}" STREQUAL "")
  if(NOT "$ENV{CLO_SDK_ZIP_URL}" MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
    stop("CLO_SDK_TOKEN is set, but the URL in CLO_SDK_ZIP_URL does not begin with https://; "
         "over any other scheme the token would travel unencrypted, so it is not sent and "
         "nothing is fetched. Use the URL's https:// form, or leave CLO_SDK_TOKEN unset for a "
         "URL that needs no token.")
  endif()
  list(APPEND headers HTTPHEADER "Authorization: Bearer $ENV{CLO_SDK_TOKEN}")
endif()
# The URL and the token are secrets: neither is printed (only a failure's
# reason, which may name the URL's host).
file(DOWNLOAD "$ENV{CLO_SDK_ZIP_URL}" ${archive} ${headers} TLS_VERIFY ON STATUS status)
list(GET status 0 code)
if(NOT code EQUAL 0)
  list(GET status 1 reason)
  stop("Fetching the host's SDK from the URL in CLO_SDK_ZIP_URL failed: ${reason} (${code}). "
       "Check that secret and CLO_SDK_TOKEN.")
endif()

# What came back, looked into before anything else: a ZIP that holds the
# header once, at its top or in one folder, and the library beside it.
if(CMAKE_HOST_WIN32)
  set(library lib/CLOAPIInterface.lib)
else()
  set(library lib/libCLOAPIInterface.so)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive}
                RESULT_VARIABLE unreadable OUTPUT_VARIABLE listing ERROR_QUIET)
if(unreadable)
  file(SIZE ${archive} size)
  file(READ ${archive} first LIMIT 1 HEX)
  set(kind "")
  if(first MATCHES "^(7b|5b)$")
    set(kind ", and looks like JSON: the URL may be an API page about the SDK, not the SDK's file")
  elseif(first STREQUAL "3c")
    set(kind ", and looks like a web page: perhaps a sign-in page, the URL or the token not accepted")
  endif()
  stop("What the URL in CLO_SDK_ZIP_URL answered is no ZIP archive (${size} bytes${kind}). "
       "It is not the SDK, so no SHA-256 is shown for pinning. Check CLO_SDK_ZIP_URL and "
       "CLO_SDK_TOKEN.")
endif()
string(REGEX MATCHALL "[^\n]+" entries "${listing}")
list(TRANSFORM entries REPLACE "^\\./" "")
set(found ${entries})
list(FILTER found INCLUDE REGEX "^([^/]+/)?include/CLOAPIInterface\\.h$")
list(LENGTH found count)
if(NOT count EQUAL 1)
  stop("The SDK's ZIP must hold include/CLOAPIInterface.h once, at its top or in one folder; "
       "found ${count}. No SHA-256 is shown for pinning an archive that is not the SDK.")
endif()
string(REGEX REPLACE "include/CLOAPIInterface\\.h$" "" top "${found}")
if(NOT "${top}${library}" IN_LIST entries)
  stop("The SDK's ZIP has include/CLOAPIInterface.h but no ${library} beside it. No SHA-256 is "
       "shown for pinning an archive that is not the SDK.")
endif()

file(SHA256 ${archive} actual)
if(pinned STREQUAL "")
  stop("${PIN} pins no SHA-256, so the SDK fetched cannot be checked. It holds "
       "include/CLOAPIInterface.h and ${library}; its SHA-256 is\n  ${actual}\nOnce you have "
       "made sure that this is the SDK you mean to build with, put that line in ${PIN} and "
       "commit it.")
elseif(NOT pinned STREQUAL actual)
  stop("The host's SDK has changed: its SHA-256 is ${actual}, but ${PIN} pins ${pinned}. "
       "If the new SDK is the one you mean to build with, put its SHA-256 in ${PIN} and commit it.")
endif()
message(STATUS "Host SDK: SHA-256 ${actual}, as pinned in ${PIN}")

file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${DESTINATION}/unpacked)
string(REGEX REPLACE "/$" "" sdk "${DESTINATION}/unpacked/${top}")
message(STATUS "Host SDK in ${sdk}")

if(ENV_FILE)
  file(APPEND ${ENV_FILE} "ORVEL_HOST_SDK_DIR=${sdk}\n")
endif()
if(PATH_FILE AND IS_DIRECTORY ${sdk}/bin)
  file(TO_NATIVE_PATH ${sdk}/bin bin)
  file(APPEND ${PATH_FILE} "${bin}\n")
endif()
