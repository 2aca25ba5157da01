// The answer document's own writer against libxml2's: the same bytes for every document it
// takes, and libxml2 left to write any other.
#include "exam_commands/answer_xml_text.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <memory>
#include <string>

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc Parse(const std::string& text) {
  return Doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "answer.xml", "utf-8",
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

std::string ByLibxml2(xmlDoc* doc) {
  xmlChar* text = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc, &text, &size, "utf-8", 0);
  std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
  xmlFree(text);
  return out;
}

void ExpectSameAsLibxml2(xmlDoc* doc) {
  std::string mine;
  ASSERT_TRUE(WriteAnswerXml(doc, mine));
  EXPECT_EQ(mine, ByLibxml2(doc));
}

TEST(AnswerXmlText, WritesWhatLibxml2WritesForDocumentsOfElementsTextAndAttributes) {
  for (const char* text : {
           "<test/>",
           "<?xml version=\"1.0\" encoding=\"utf-8\"?><test><q1><response id=\"1\"><answer>"
           "第1题的答案</answer></response></q1><q2/></test>",
           "<a x='1 &lt; 2 &amp; &quot;3&quot; &gt; 0' y=\"tab&#9;line&#10;cr&#13;end\" z=\"中'\">"
           "a &lt; b &amp;&amp; c &gt; d \"quoted\" 'single'&#13;\n\tnext</a>",
           "<?xml version=\"1.1\" standalone=\"yes\"?><a>x</a>",
           "<?xml version=\"1.0\" standalone=\"no\"?><a><b></b><c> </c></a>",
           "<a>\xF0\x9F\x98\x80 é</a>",
           "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"é\">é</a>",
       }) {
    SCOPED_TRACE(text);
    Doc doc = Parse(text);
    ASSERT_TRUE(doc);
    ExpectSameAsLibxml2(doc.get());
  }
}

TEST(AnswerXmlText, WritesBuiltDocumentsAsLibxml2Does) {
  // As a first save makes it: no encoding of its own, text and attributes set from the page.
  Doc doc(xmlNewDoc(BAD_CAST "1.0"));
  xmlNodePtr root = xmlNewNode(nullptr, BAD_CAST "test");
  xmlDocSetRootElement(doc.get(), root);
  xmlNodePtr q = xmlNewChild(root, nullptr, BAD_CAST "q1", nullptr);
  xmlSetProp(q, BAD_CAST "id", BAD_CAST "中 \"1\"\n&<>");
  xmlNodeSetContent(xmlNewChild(q, nullptr, BAD_CAST "answer", nullptr),
                    BAD_CAST "答案 &amp; <x>\r\n");
  xmlNewChild(root, nullptr, BAD_CAST "empty", nullptr);
  xmlAddChild(root, xmlNewText(BAD_CAST "tail"));
  xmlAddChild(root, xmlNewText(BAD_CAST " & more"));
  ExpectSameAsLibxml2(doc.get());
}

TEST(AnswerXmlText, LeavesOtherDocumentsToLibxml2) {
  for (const char* text : {
           "<a><!-- note --></a>",
           "<a><![CDATA[x]]></a>",
           "<a><?pi x?></a>",
           "<p:a xmlns:p=\"urn:x\"/>",
           "<a xmlns=\"urn:x\"/>",
           "<a><b p:x=\"1\" xmlns:p=\"urn:x\"/></a>",
           "<!DOCTYPE a [<!ENTITY e \"v\">]><a>&e;</a>",
           "<!DOCTYPE a [<!ENTITY e \"v\">]><a x=\"&e;\"/>",
           "<!-- before --><a/>",
       }) {
    SCOPED_TRACE(text);
    Doc doc = Parse(text);
    ASSERT_TRUE(doc);
    std::string mine;
    EXPECT_FALSE(WriteAnswerXml(doc.get(), mine));
  }
}

}  // namespace
