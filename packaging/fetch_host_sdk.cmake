# Fetches the host's real SDK for the release build and checks it against the
# SHA-256 pinned in the repository. Run with -DDESTINATION= (an empty scratch
# folder) and -DPIN= (packaging/host-sdk.sha256); optionally -DENV_FILE= and
# -DPATH_FILE= (GitHub's GITHUB_ENV and GITHUB_PATH), to which it adds
# ORVEL_HOST_SDK_DIR and, when the SDK has one, its bin folder.
#
# The SDK is a ZIP at the URL in the environment variable CLO_SDK_ZIP_URL (a
# repository secret), fetched with "Authorization: Bearer $CLO_SDK_TOKEN" when
# that variable is set. The ZIP holds include/CLOAPIInterface.h and
# lib/CLOAPIInterface.lib (lib/libCLOAPIInterface.so on Linux), and bin/ with
# the SDK's DLL if it has one, at its top or in one folder.
cmake_minimum_required(VERSION 3.25)

# Stops with the text of all its arguments, also as an error annotation when
# run by GitHub Actions.
function(stop)
  string(CONCAT text ${ARGV})
  if(DEFINED ENV{GITHUB_ACTIONS})
    string(REPLACE "\n" "%0A" annotation "${text}")
    message(NOTICE "::error title=Host SDK::${annotation}")
  endif()
  message(FATAL_ERROR "${text}")
endfunction()

if("$ENV{CLO_SDK_ZIP_URL}" STREQUAL "")
  stop("The host's SDK is not available: the repository secret CLO_SDK_ZIP_URL (the URL of the "
       "SDK's ZIP) is not set, nor, if that URL needs one, CLO_SDK_TOKEN (its bearer token). "
       "Without the SDK no build for users is made, and nothing is released.")
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
set(header)
if(NOT "$ENV{CLO_SDK_TOKEN}" STREQUAL "")
  set(header HTTPHEADER "Authorization: Bearer $ENV{CLO_SDK_TOKEN}")
endif()
# The URL and the token are secrets: neither is printed (only a failure's
# reason, which may name the URL's host).
file(DOWNLOAD "$ENV{CLO_SDK_ZIP_URL}" ${archive} ${header} TLS_VERIFY ON STATUS status)
list(GET status 0 code)
if(NOT code EQUAL 0)
  list(GET status 1 reason)
  stop("Fetching the host's SDK from the URL in CLO_SDK_ZIP_URL failed: ${reason} (${code}). "
       "Check that secret and CLO_SDK_TOKEN.")
endif()

file(SHA256 ${archive} actual)
if(pinned STREQUAL "")
  stop("${PIN} pins no SHA-256, so the SDK fetched cannot be checked. Its SHA-256 is\n"
       "  ${actual}\nOnce you have made sure that this is the SDK you mean to build with, "
       "put that line in ${PIN} and commit it.")
elseif(NOT pinned STREQUAL actual)
  stop("The host's SDK has changed: its SHA-256 is ${actual}, but ${PIN} pins ${pinned}. "
       "If the new SDK is the one you mean to build with, put its SHA-256 in ${PIN} and commit it.")
endif()
message(STATUS "Host SDK: SHA-256 ${actual}, as pinned in ${PIN}")

file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${DESTINATION}/unpacked)
file(GLOB headers ${DESTINATION}/unpacked/include/CLOAPIInterface.h
     ${DESTINATION}/unpacked/*/include/CLOAPIInterface.h)
list(LENGTH headers count)
if(NOT count EQUAL 1)
  stop("The SDK's ZIP must hold include/CLOAPIInterface.h once, at its top or in one folder; "
       "found ${count}.")
endif()
get_filename_component(sdk ${headers} DIRECTORY)
get_filename_component(sdk ${sdk} DIRECTORY)
if(CMAKE_HOST_WIN32)
  set(library lib/CLOAPIInterface.lib)
else()
  set(library lib/libCLOAPIInterface.so)
endif()
if(NOT EXISTS ${sdk}/${library})
  stop("The SDK's ZIP has include/CLOAPIInterface.h but no ${library} beside it.")
endif()
message(STATUS "Host SDK in ${sdk}")

if(ENV_FILE)
  file(APPEND ${ENV_FILE} "ORVEL_HOST_SDK_DIR=${sdk}\n")
endif()
if(PATH_FILE AND IS_DIRECTORY ${sdk}/bin)
  file(TO_NATIVE_PATH ${sdk}/bin bin)
  file(APPEND ${PATH_FILE} "${bin}\n")
endif()
