// The answer document's text, exactly as libxml2 writes it (xmlDocDumpFormatMemoryEnc with
// "utf-8" and no formatting), for documents of elements, text and plain attributes; several
// times faster, and a save writes the whole document for every answer.
#pragma once

#include <libxml/tree.h>

#include <string>

// False for a document holding anything else (comments, namespaces, a document type, ...):
// libxml2 then writes it itself. |out| is replaced.
bool WriteAnswerXml(const xmlDoc* doc, std::string& out);
