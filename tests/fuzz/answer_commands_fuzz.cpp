// The answer commands with random items and identifiers, one document kept across inputs. What
// must hold: a save answered with success leaves a document that reads back without an error
// and holds the value under the key; a failed save leaves the file byte for byte as it was; every
// reply is callback JSON.
#include <fuzzer/FuzzedDataProvider.h>
#include <json/json.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "shell/commands/command.h"
#include "shell/core/helpers.h"
#include "tests/fuzz/sandbox.h"

namespace {

void Check(bool holds, const char* what, const std::string& detail) {
  if (holds) return;
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Json::Value ReplyOf(const std::string& text) {
  Json::Value v;
  Check(ParseJson(text, v) && v.isObject() && v.isMember("flag"), "reply is no callback JSON",
        text);
  return v;
}

bool ReadsWithoutError(const std::string& file) {
  xmlDoc* doc =
      xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return false;
  xmlFreeDoc(doc);
  return true;
}

// Keys mostly of the shapes pages use, sometimes anything at all.
std::string Key(FuzzedDataProvider& input) {
  static const char* const kPieces[] = {
      "test", "q1",    "q2", "response[id=1]",     "answer", "info",
      "a",    "[x=y]", "",   "response[id=第一题]"};
  if (input.ConsumeBool()) return input.ConsumeRandomLengthString(300);
  std::string key;
  int steps = input.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < steps; ++i) {
    std::string piece = "/" + std::string(input.PickValueInArray(kPieces));
    // Now and then a step repeated far deeper than any page goes.
    int repeat =
        input.ConsumeIntegralInRange(0, 15) == 0 ? input.ConsumeIntegralInRange(1, 300) : 1;
    for (int r = 0; r < repeat; ++r) key += piece;
  }
  return key;
}

// Question identifiers: XPath pieces put together, sometimes anything at all.
std::string Identifier(FuzzedDataProvider& input) {
  static const char* const kPieces[] = {"q1",
                                        "x",
                                        "*",
                                        "//",
                                        "/",
                                        "|",
                                        "..",
                                        "@*",
                                        "@id",
                                        "text()",
                                        "comment()",
                                        "node()",
                                        "namespace::*",
                                        "attribute::*",
                                        "response",
                                        "[1]"};
  if (input.ConsumeBool()) return input.ConsumeRandomLengthString(60);
  std::string id;
  int pieces = input.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < pieces; ++i) id += input.PickValueInArray(kPieces);
  return id;
}

Json::Value Item(FuzzedDataProvider& input) {
  Json::Value item(Json::objectValue);
  item["key"] = Key(input);
  item["value"] = input.ConsumeRandomLengthString(200);
  if (input.ConsumeBool()) item["cdata"] = input.ConsumeRandomLengthString(50);
  if (input.ConsumeBool()) {
    Json::Value attributes(Json::objectValue);
    attributes[input.ConsumeRandomLengthString(10)] = input.ConsumeRandomLengthString(20);
    item["attr"] = attributes;
  }
  if (input.ConsumeIntegralInRange(0, 15) == 0) {
    item["type"] = 1;
    item["path"] = input.ConsumeRandomLengthString(40);
  }
  return item;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetSandbox();
  FuzzedDataProvider input(data, size);
  if (input.ConsumeIntegralInRange(0, 7) == 0) {
    Json::Value start(Json::objectValue);
    start["examineeId"] = input.ConsumeRandomLengthString(12);
    start["paperId"] = input.ConsumeRandomLengthString(12);
    ReplyOf(FuzzDispatch("startexam", WriteJson(start)));
  }
  const std::string file = Sandbox().state->Session().answerFolder + "answer.xml";
  while (input.remaining_bytes() > 0) {
    if (input.ConsumeBool()) {
      Json::Value items(Json::arrayValue);
      int count = input.ConsumeIntegralInRange(0, 3);
      for (int i = 0; i < count; ++i) items.append(Item(input));
      std::string before = ReadWhole(file);
      bool existed = IsExistingFile(file);
      Json::Value reply = ReplyOf(FuzzDispatch("saveanswer", WriteJson(items)));
      if (reply["flag"].asInt() == 1) {
        Check(ReadsWithoutError(file), "a successful save left a document that does not read",
              WriteJson(items));
      } else {
        Check(ReadWhole(file) == before && IsExistingFile(file) == existed,
              "a failed save changed the document", WriteJson(items));
      }
    } else {
      Json::Value ids(Json::arrayValue);
      int count = input.ConsumeIntegralInRange(0, 3);
      for (int i = 0; i < count; ++i) ids.append(Identifier(input));
      Json::Value reply = ReplyOf(FuzzDispatch("getanswer", WriteJson(ids)));
      Check(reply["flag"].asInt() == 1, "getanswer failed", WriteJson(ids));
    }
  }
  return 0;
}
