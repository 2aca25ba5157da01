// The page commands that talk to the examination server or pack and unpack archives: download,
// downloadapp, postrequest, upload and uploadanswer.
#pragma once

#include <cstddef>
#include <string>

// Installs the five command words in the factory; idempotent.
void RegisterTransferCommands();

// The response sink of the server commands: collects the body into the std::string given as
// |userData| (AppendResponseBody behind libcurl's write-callback shape).
std::size_t ResponseBodySink(char* data, std::size_t size, std::size_t count, void* userData);

// A request URL from a page: kept when it begins with "http://" or "https://" (lower case only),
// otherwise the server base URL is put in front, after one leading "/" is dropped when
// |dropLeadingSlash| is set.
std::string CompleteServerUrl(const std::string& url, bool dropLeadingSlash);
