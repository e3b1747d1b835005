// What every copy's transfer over libcurl shares: no signals on the copy
// threads, a connection within 30 s, and a place that stops answering given
// up after two minutes without a byte (a long copy over a slow line is not).
#pragma once

#include <curl/curl.h>

namespace qn::storage {

inline void SetCopyPatience(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 120L);
}

}  // namespace qn::storage
