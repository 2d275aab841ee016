# Runs packaging/fetch_host_sdk.cmake (-DSCRIPT=) in -DWORK= on SDK archives
# made here, fetched by file:// URL or over http or https from tests/support/
# sdk_server.py (-DSERVER=, run with -DPYTHON=), which answers the ZIP only to
# "Accept: application/octet-stream" and, over https, only with the bearer
# token, once per row below: what the release job does without its secrets,
# with a token for a URL that is not https, with an empty one (what the job
# passes for a secret that is not set) over http, with a token over https (the
# right one, another, none), without a pinned SHA-256, with another one, with
# answers that are no SDK, and with the right one. The https server's
# certificate is made here with -DOPENSSL= for 127.0.0.1 alone; a row's fetch
# trusts it as a job would trust a private authority, with -DCMAKE_TLS_CAINFO=.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/sdk/sdk-2024/include ${WORK}/sdk/sdk-2024/lib ${WORK}/sdk/sdk-2024/bin
     ${WORK}/no-lib/include ${WORK}/tls)
file(WRITE ${WORK}/sdk/sdk-2024/include/CLOAPIInterface.h "// the SDK's header\n")
file(WRITE ${WORK}/sdk/sdk-2024/lib/CLOAPIInterface.lib "")
file(WRITE ${WORK}/sdk/sdk-2024/lib/libCLOAPIInterface.so "")
file(WRITE ${WORK}/sdk/sdk-2024/bin/CLOAPIInterface.dll "")
file(WRITE ${WORK}/no-lib/include/CLOAPIInterface.h "// a header alone\n")
file(WRITE ${WORK}/sign-in.html "<!DOCTYPE html><title>Sign in</title>\n")
# Two SDKs, each whole, in one ZIP.
file(COPY ${WORK}/sdk/sdk-2024 DESTINATION ${WORK}/two-sdks)
file(COPY ${WORK}/sdk/sdk-2024/ DESTINATION ${WORK}/two-sdks/sdk-2023)
foreach(name sdk no-lib two-sdks)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${WORK}/${name}.zip --format=zip -- .
                  WORKING_DIRECTORY ${WORK}/${name} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot make ${WORK}/${name}.zip")
  endif()
endforeach()
file(SHA256 ${WORK}/sdk.zip sdk_hash)
file(SHA256 ${WORK}/no-lib.zip no_lib_hash)
file(SHA256 ${WORK}/two-sdks.zip two_sdks_hash)
execute_process(COMMAND ${OPENSSL} req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1
                        -nodes -days 1 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1
                        -keyout ${WORK}/tls/key.pem -out ${WORK}/tls/certificate.pem
                RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
if(failed)
  message(FATAL_ERROR "cannot make the https server's certificate (${failed}):\n${errors}")
endif()
if(WORK MATCHES "^/")
  set(url file://${WORK})
else()
  set(url file:///${WORK})
endif()
set(other_hash 0000000000000000000000000000000000000000000000000000000000000000)

# Rows: name | environment and, beginning with -D, the fetch's own arguments
# (comma-separated, "-" for none) | URL ("-" for none; "{port}" is the
# server's, which serves https for an https:// URL) | pin file's lines | what
# the output must match ("OK" for success; SEMICOLON for a semicolon, which
# would split the row). A row that does not expect a SHA-256 must show none.
set(token_value secret-token-7f3a)
set(token CLO_SDK_TOKEN=${token_value})
set(ca -DCMAKE_TLS_CAINFO=${WORK}/tls/certificate.pem)
string(REPEAT "[0-9a-f]" 64 sha256)
set(rows
  "no secrets|-|-|${sdk_hash}|CLO_SDK_ZIP_URL.*CLO_SDK_TOKEN.*nothing is released"
  "a token over http|${token},GITHUB_ACTIONS=true|http://127.0.0.1:9/sdk.zip|${sdk_hash}|::error title=Host SDK::CLO_SDK_TOKEN is set, but .* https://SEMICOLON over any other scheme the token would travel unencrypted"
  "a token over file://|${token}|${url}/sdk.zip|${sdk_hash}|does not begin with https://"
  "nothing pinned|-|${url}/sdk.zip|# only a comment|pins no SHA-256.*lib/libCLOAPIInterface.soSEMICOLON its SHA-256 is ${sdk_hash}"
  "another SDK|-|${url}/sdk.zip|${other_hash}|has changed: its SHA-256 is ${sdk_hash}, but .* pins ${other_hash}"
  "no hash in the file|-|${url}/sdk.zip|not-a-hash|holds \"not-a-hash\", which is no SHA-256"
  "unreachable URL|-|${url}/missing.zip|${sdk_hash}|from the URL in CLO_SDK_ZIP_URL failed"
  "two SDKs, the ZIP pinned|-|${url}/two-sdks.zip|${two_sdks_hash}|must hold include/CLOAPIInterface.h once, at its top or in one folderSEMICOLON found 2\\."
  "no library, nothing pinned|-|${url}/no-lib.zip|# only a comment|include/CLOAPIInterface.h but no lib/"
  "a sign-in page, nothing pinned|-|${url}/sign-in.html|# only a comment|no ZIP archive .*looks like a web page"
  "JSON about the SDK|-|http://127.0.0.1:{port}/releases/assets/1|# only a comment|no ZIP archive .*looks like JSON"
  "over http, asking for the file|-|http://127.0.0.1:{port}/sdk.zip|${sdk_hash}|OK"
  "over http, the token set but empty (a secret left unset)|CLO_SDK_TOKEN=|http://127.0.0.1:{port}/sdk.zip|${sdk_hash}|OK"
  "over https without the token|${ca}|https://127.0.0.1:{port}/sdk.zip|${sdk_hash}|from the URL in CLO_SDK_ZIP_URL failed: .HTTP response code said error. \\(22\\)"
  "over https with another token|CLO_SDK_TOKEN=another-token,${ca}|https://127.0.0.1:{port}/sdk.zip|${sdk_hash}|from the URL in CLO_SDK_ZIP_URL failed: .HTTP response code said error. \\(22\\)"
  "over https, a certificate the fetch does not trust|${token}|https://127.0.0.1:{port}/sdk.zip|${sdk_hash}|from the URL in CLO_SDK_ZIP_URL failed: .SSL peer certificate or SSH remote key was not OK. \\(60\\)"
  "over https, a certificate for another name|${token},${ca}|https://localhost:{port}/sdk.zip|${sdk_hash}|from the URL in CLO_SDK_ZIP_URL failed: .SSL peer certificate or SSH remote key was not OK. \\(60\\)"
  "over https with the token|${token},${ca}|https://127.0.0.1:{port}/sdk.zip|${sdk_hash}|OK"
  "the pinned SDK|-|${url}/sdk.zip|# the SDK of 2024\n${sdk_hash}  host-sdk.zip|OK")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 row_env)
  list(GET fields 2 row_url)
  list(GET fields 3 pin)
  list(GET fields 4 expected)
  string(REPLACE "SEMICOLON" ";" expected "${expected}")
  set(env --unset=GITHUB_ACTIONS --unset=CLO_SDK_TOKEN --unset=CLO_SDK_ZIP_URL)
  set(arguments "")
  if(NOT row_env STREQUAL "-")
    string(REPLACE "," ";" row_env "${row_env}")
    foreach(entry IN LISTS row_env)
      if(entry MATCHES "^-D")
        list(APPEND arguments ${entry})
      else()
        list(APPEND env ${entry})
      endif()
    endforeach()
  endif()
  if(NOT row_url STREQUAL "-")
    list(APPEND env CLO_SDK_ZIP_URL=${row_url})
  endif()
  set(server)
  if(row_url MATCHES "^https://.*{port}")
    set(server ${PYTHON} ${SERVER} --https ${WORK}/tls/certificate.pem ${WORK}/tls/key.pem
               ${token_value} ${WORK})
  elseif(row_url MATCHES "{port}")
    set(server ${PYTHON} ${SERVER} ${WORK})
  endif()
  string(REPLACE "\\n" "\n" pin "${pin}")
  file(WRITE ${WORK}/host-sdk.sha256 "${pin}\n")
  file(REMOVE ${WORK}/env ${WORK}/path)
  execute_process(COMMAND ${server} ${CMAKE_COMMAND} -E env ${env}
                          ${CMAKE_COMMAND} -DDESTINATION=${WORK}/fetched -DPIN=${WORK}/host-sdk.sha256
                          ${arguments}
                          -DENV_FILE=${WORK}/env -DPATH_FILE=${WORK}/path -P ${SCRIPT}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " flat "${output}")
  string(FIND "${output}" "secret-token" token_shown)
  if(NOT token_shown EQUAL -1)
    message(FATAL_ERROR "${name}: the token was printed:\n${output}")
  elseif(expected STREQUAL "OK" AND failed)
    message(FATAL_ERROR "${name}: expected success, got (${failed}):\n${output}")
  elseif(expected STREQUAL "OK")
    file(READ ${WORK}/env env_file)
    file(TO_NATIVE_PATH ${WORK}/fetched/unpacked/sdk-2024/bin bin)
    file(READ ${WORK}/path path_file)
    if(NOT env_file STREQUAL "ORVEL_HOST_SDK_DIR=${WORK}/fetched/unpacked/sdk-2024\n"
       OR NOT path_file STREQUAL "${bin}\n")
      message(FATAL_ERROR "${name}: expected success, got (${failed}):\n${output}\n${env_file}${path_file}")
    endif()
  elseif(NOT failed OR NOT flat MATCHES "${expected}" OR EXISTS ${WORK}/env)
    message(FATAL_ERROR "${name}: expected a failure saying \"${expected}\", got (${failed}):\n${output}")
  elseif(NOT expected MATCHES "${sha256}" AND flat MATCHES "${sha256}")
    message(FATAL_ERROR "${name}: a SHA-256 was shown for an archive that is not the SDK:\n${output}")
  endif()
  message(STATUS "${name}: as expected")
endforeach()
