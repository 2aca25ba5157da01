#include "platform/mirvane/json_input.h"

namespace mirvane {

namespace {

constexpr int kDeepestNesting = 32;

}  // namespace

bool ReadBoundedJson(std::istream& in, Json::Value& root) {
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = kDeepestNesting;
  std::string errors;
  try {
    return Json::parseFromStream(builder, in, &root, &errors);
  } catch (const Json::Exception&) {
    // The reader signals a nesting beyond its limit by throwing.
    root = Json::Value();
    return false;
  }
}

}  // namespace mirvane
