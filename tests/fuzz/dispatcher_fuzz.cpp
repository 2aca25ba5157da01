// The dispatcher with random command words, types and params, a few commands per input, in the
// sandbox. Every dispatch must answer with one line of JSON carrying a flag.
#include <fuzzer/FuzzedDataProvider.h>
#include <json/json.h>

#include <cstdio>
#include <cstdlib>

#include "shell/commands/command.h"
#include "tests/fuzz/sandbox.h"

namespace {

const char* const kWords[] = {
    "maximize", "restored",    "close",     "opendialog",  "setkey",
    "readkey",  "getconfig",   "startexam", "saveanswer",  "getanswer",
    "upload",   "downloadapp", "download",  "postrequest", "uploadanswer",
    "readfile", "getapps",     "runapp",    "stopapp",     "unknownword",
};

void Check(bool holds, const char* what, const std::string& reply) {
  if (holds) return;
  std::fprintf(stderr, "%s: %s\n", what, reply.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetSandbox();
  FuzzedDataProvider input(data, size);
  int commands = input.ConsumeIntegralInRange(1, 4);
  for (int i = 0; i < commands && input.remaining_bytes() > 0; ++i) {
    std::string word = input.ConsumeBool() ? std::string(input.PickValueInArray(kWords))
                                           : input.ConsumeRandomLengthString(16);
    std::string type = input.ConsumeBool()   ? "0"
                       : input.ConsumeBool() ? "1"
                                             : input.ConsumeRandomLengthString(4);
    std::string params = input.ConsumeRandomLengthString(2048);
    std::string reply = FuzzDispatch(word, params, type);
    // An empty reply is what a read of no store gives; anything else is the one-line JSON.
    if (reply.empty()) continue;
    Json::Value v;
    Check(ParseJson(reply, v) && v.isObject() && v.isMember("flag"), "reply is no callback JSON",
          reply);
    Check(reply.find('\n') == std::string::npos, "reply spans lines", reply);
  }
  return 0;
}
