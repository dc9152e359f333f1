# Sources and settings of this area; included by the top-level CMakeLists.txt.
#
# Request signing and HTTPS transport. One back end is compiled in:
#   curl     libcurl's easy interface, HMAC from OpenSSL's libcrypto
#   winhttp  WinHTTP, HMAC from BCrypt, certificates through crypt32 (all shipped with Windows)
#   auto     curl when libcurl and OpenSSL are found, else winhttp on Windows
set(ORBA_HTTP_BACKEND auto CACHE STRING "HTTP back end of the tracker: auto, curl or winhttp")
set_property(CACHE ORBA_HTTP_BACKEND PROPERTY STRINGS auto curl winhttp)
if(NOT ORBA_HTTP_BACKEND MATCHES "^(auto|curl|winhttp)$")
  message(FATAL_ERROR "ORBA_HTTP_BACKEND must be auto, curl or winhttp, not '${ORBA_HTTP_BACKEND}'")
endif()

set(ORBA_HTTP_BACKEND_USED ${ORBA_HTTP_BACKEND})
if(ORBA_HTTP_BACKEND STREQUAL "auto")
  find_package(CURL QUIET)
  find_package(OpenSSL QUIET COMPONENTS Crypto)
  if(CURL_FOUND AND OpenSSL_FOUND)
    set(ORBA_HTTP_BACKEND_USED curl)
  elseif(WIN32)
    set(ORBA_HTTP_BACKEND_USED winhttp)
  else()
    message(FATAL_ERROR "ORBA_HTTP_BACKEND=auto found neither libcurl with OpenSSL nor WinHTTP; "
                        "install libcurl4-openssl-dev and libssl-dev")
  endif()
endif()

target_sources(orba_objects PRIVATE src/tracker/transport/RequestRules.cpp)
if(ORBA_HTTP_BACKEND_USED STREQUAL "curl")
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_sources(orba_objects PRIVATE
    src/tracker/transport/CurlTransport.cpp
    src/tracker/transport/OpenSslHmac.cpp)
  target_link_libraries(orba_objects PUBLIC CURL::libcurl OpenSSL::Crypto)
else()
  if(NOT WIN32)
    message(FATAL_ERROR "ORBA_HTTP_BACKEND=winhttp needs a Windows target")
  endif()
  target_sources(orba_objects PRIVATE
    src/tracker/transport/WinHttpTransport.cpp
    src/tracker/transport/BCryptHmac.cpp)
  target_link_libraries(orba_objects PUBLIC winhttp bcrypt crypt32)
endif()
message(STATUS "HTTP back end: ${ORBA_HTTP_BACKEND_USED}")
