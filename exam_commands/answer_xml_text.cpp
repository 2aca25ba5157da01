#include "exam_commands/answer_xml_text.h"

#include <libxml/globals.h>
#include <libxml/parserInternals.h>

#include <cstring>

namespace {

const char* Name(const xmlChar* name) { return reinterpret_cast<const char*>(name); }

// libxml2's escaping: in text only what would end it or break a line ending, in an attribute
// also quotes and white space.
void Escape(std::string& out, const xmlChar* text, bool attribute) {
  const char* run = Name(text);
  const char* p = run;
  for (;; ++p) {
    const char* entity = nullptr;
    switch (*p) {
      case '\0':
        out.append(run, p);
        return;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '&':
        entity = "&amp;";
        break;
      case '\r':
        entity = "&#13;";
        break;
      case '\n':
        entity = attribute ? "&#10;" : nullptr;
        break;
      case '\t':
        entity = attribute ? "&#9;" : nullptr;
        break;
      case '"':
        entity = attribute ? "&quot;" : nullptr;
        break;
      default:
        break;
    }
    if (!entity) continue;
    out.append(run, p);
    out += entity;
    run = p + 1;
  }
}

bool WriteElement(const xmlNode* element, std::string& out) {
  if (element->ns || element->nsDef) return false;
  out += '<';
  out += Name(element->name);
  for (const xmlAttr* a = element->properties; a; a = a->next) {
    if (a->type != XML_ATTRIBUTE_NODE || a->ns) return false;
    out += ' ';
    out += Name(a->name);
    out += "=\"";
    for (const xmlNode* t = a->children; t; t = t->next) {
      if (t->type != XML_TEXT_NODE) return false;
      if (t->content) Escape(out, t->content, true);
    }
    out += '"';
  }
  if (!element->children) {
    out += "/>";
    return true;
  }
  out += '>';
  for (const xmlNode* c = element->children; c; c = c->next) {
    // libxml2 has its own way with a tree whose links disagree.
    if (c->parent != element) return false;
    if (c->type == XML_ELEMENT_NODE) {
      if (!WriteElement(c, out)) return false;
    } else if (c->type == XML_TEXT_NODE && c->name != xmlStringTextNoenc) {
      if (c->content) Escape(out, c->content, false);
    } else {
      return false;
    }
  }
  out += "</";
  out += Name(element->name);
  out += '>';
  return true;
}

}  // namespace

bool WriteAnswerXml(const xmlDoc* doc, std::string& out) {
  out.clear();
  if (!doc || doc->type != XML_DOCUMENT_NODE || xmlSaveNoEmptyTags) return false;
  const char* version = doc->version ? Name(doc->version) : "1.0";
  if (std::strchr(version, '"')) return false;
  out += "<?xml version=\"";
  out += version;
  out += "\" encoding=\"utf-8\"";
  if (doc->standalone == 0) out += " standalone=\"no\"";
  if (doc->standalone == 1) out += " standalone=\"yes\"";
  out += "?>\n";
  for (const xmlNode* c = doc->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE || c->parent != reinterpret_cast<const xmlNode*>(doc) ||
        !WriteElement(c, out))
      return false;
    out += '\n';
  }
  return true;
}
