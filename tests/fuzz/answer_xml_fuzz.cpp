// The answer document's own writer against libxml2's on any document the parser reads: whenever
// the writer takes a document, its bytes must be libxml2's.
#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "exam_commands/answer_xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xmlDocPtr doc = xmlReadMemory(
      reinterpret_cast<const char*>(data), static_cast<int>(size), "answer.xml", "utf-8",
      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_RECOVER);
  if (!doc) return 0;
  std::string mine;
  if (WriteAnswerXml(doc, mine)) {
    xmlChar* text = nullptr;
    int length = 0;
    xmlDocDumpFormatMemoryEnc(doc, &text, &length, "utf-8", 0);
    std::string theirs(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    xmlFree(text);
    if (mine != theirs) {
      std::fprintf(stderr, "writer differs from libxml2:\n%s\n---\n%s\n", mine.c_str(),
                   theirs.c_str());
      std::abort();
    }
  }
  xmlFreeDoc(doc);
  return 0;
}
