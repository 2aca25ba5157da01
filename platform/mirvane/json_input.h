// Reading the JSON that reaches the engine from outside: the request, the page's paper and the
// candidate's user model. None of it nests more than three levels, so anything much deeper is
// refused instead of being followed down a recursion that ends in an exception.
#pragma once

#include <json/json.h>

#include <istream>

namespace mirvane {

// False, never an exception, when |in| holds no JSON or JSON nested too deeply.
bool ReadBoundedJson(std::istream& in, Json::Value& root);

}  // namespace mirvane
