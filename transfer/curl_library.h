// libcurl, loaded on the first transfer rather than at start-up: it brings some twenty libraries
// (TLS, LDAP, SSH, RTMP) whose loading and linking the first page would otherwise wait for.
#pragma once

#include <curl/curl.h>

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  void (*easy_cleanup)(CURL* handle);
  curl_mime* (*mime_init)(CURL* handle);
  void (*mime_free)(curl_mime* mime);
  curl_mimepart* (*mime_addpart)(curl_mime* mime);
  CURLcode (*mime_name)(curl_mimepart* part, const char* name);
  CURLcode (*mime_data)(curl_mimepart* part, const char* data, size_t size);
  CURLcode (*mime_filedata)(curl_mimepart* part, const char* file);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
};

// The library, loaded and set up once, on whichever thread asks first; null when it cannot be
// loaded (every transfer then fails).
const CurlLibrary* Curl();
