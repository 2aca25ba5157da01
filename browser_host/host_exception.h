// The error a host's database layer throws, as a pointer, out of the resource callbacks. The
// scheme handler that catches it logs its message and deletes it.
#pragma once

#include <string>

class CppSQLite3Exception {
 public:
  CppSQLite3Exception(int code, std::string message) : code_(code), message_(std::move(message)) {}
  int errorCode() const { return code_; }
  const char* errorMessage() const { return message_.c_str(); }

 private:
  int code_;
  std::string message_;
};
