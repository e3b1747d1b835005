# libcurl, for the alert mail and the copies to an object store, as the
# target qn_curl. No libcurl is packaged for Windows: a static one is built
# from Debian's curl source (scripts/fetch-curl.sh) with Windows' own TLS,
# so the program still needs only the system's DLLs.
if(WIN32)
  set(QN_CURL_DIR "" CACHE PATH "a static libcurl for Windows (scripts/fetch-curl.sh)")
  if(NOT EXISTS "${QN_CURL_DIR}/lib/libcurl.a" OR NOT EXISTS "${QN_CURL_DIR}/include/curl/curl.h")
    message(FATAL_ERROR "QN_CURL_DIR must name a static libcurl for Windows (scripts/fetch-curl.sh)")
  endif()
  add_library(qn_curl STATIC IMPORTED)
  set_target_properties(qn_curl PROPERTIES IMPORTED_LOCATION "${QN_CURL_DIR}/lib/libcurl.a"
                                           INTERFACE_INCLUDE_DIRECTORIES "${QN_CURL_DIR}/include"
                                           INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
                                           INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;advapi32;winmm")
else()
  find_package(CURL REQUIRED)
  add_library(qn_curl INTERFACE IMPORTED)
  target_link_libraries(qn_curl INTERFACE CURL::libcurl)
endif()
