#include "exam_commands/answer_commands.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/regex.hpp>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "exam_commands/answer_document_cache.h"
#include "exam_commands/session_names.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

namespace {

const char kSuccess[] = "操作成功";
const char kResumeFailed[] = "获取上次考试进度失败";
const char kSaveFailed[] = "保存答案失败";
const char kFileMissing[] = "文件不存在，保存答案失败";

const int kReadOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// The deepest element a save may make, the root being level 1. Far beyond what pages use, and far
// below the depth at which the parser stops reading a document.
const std::size_t kMaxDepth = 64;

using DocPtr = XmlDocPtr;
struct ContextFree {
  void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
using ContextPtr = std::unique_ptr<xmlXPathContext, ContextFree>;
struct ParserFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
using ParserPtr = std::unique_ptr<xmlParserCtxt, ParserFree>;
struct ObjectFree {
  void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
using ObjectPtr = std::unique_ptr<xmlXPathObject, ObjectFree>;

const xmlChar* X(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string TextOf(xmlChar* text) {
  std::string out = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return out;
}

void IgnoreXmlError(void*, xmlErrorPtr) {}

ContextPtr NewContext(xmlDoc* doc) {
  ContextPtr context(xmlXPathNewContext(doc));
  if (context) context->error = &IgnoreXmlError;
  return context;
}

ObjectPtr Evaluate(xmlXPathContext* context, const std::string& expression) {
  if (!context) return nullptr;
  return ObjectPtr(xmlXPathEvalExpression(X(expression), context));
}

std::size_t NodeCount(const ObjectPtr& found) {
  if (!found || found->type != XPATH_NODESET || !found->nodesetval) return 0;
  return static_cast<std::size_t>(found->nodesetval->nodeNr);
}

// The element |found| holds at |i|, or null for a node of another kind (a namespace or an
// attribute node is a different structure and must not be read as an element).
xmlNode* ElementAt(const ObjectPtr& found, std::size_t i) {
  xmlNode* node = found->nodesetval->nodeTab[i];
  return node && node->type == XML_ELEMENT_NODE ? node : nullptr;
}

// Reads the answer document in recovery mode. |why| is empty when the file was read without an
// error; otherwise it says what was wrong, and the tree may lack part of the file.
DocPtr ReadAnswerDocument(const std::string& file, std::string& why) {
  why.clear();
  ParserPtr parser(xmlNewParserCtxt());
  if (!parser) {
    why = "no parser";
    return nullptr;
  }
  DocPtr doc(
      xmlCtxtReadFile(parser.get(), file.c_str(), "utf-8", kReadOptions | XML_PARSE_RECOVER));
  if (!parser->wellFormed || !parser->nsWellFormed || !doc) {
    const char* message = parser->lastError.message;
    why = message ? message : "not well-formed";
    while (!why.empty() && why.back() == '\n') why.pop_back();
    if (why.empty()) why = "not well-formed";
  }
  return doc;
}

bool IsXmlChar(char32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Whether a document can hold |text| at all: well-formed UTF-8 of characters that XML 1.0
// allows. Anything else would be written out and make the file unreadable.
bool IsXmlText(const std::string& text) {
  std::size_t i = 0;
  char32_t cp;
  while (i < text.size()) {
    if (!NextUtf8CodePoint(text, i, cp) || !IsXmlChar(cp)) return false;
  }
  return true;
}

bool IsXmlName(const std::string& name) {
  return !name.empty() && IsXmlText(name) && xmlValidateNCName(X(name), 0) == 0;
}

// "xmlns" would be read back as a namespace declaration, not as the attribute written.
bool IsAttributeName(const std::string& name) { return IsXmlName(name) && name != "xmlns"; }

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character that a well-formed reference ("amp", "#60", "#x4E2D") stands for; false for
// anything else, which then stays literal text.
bool ResolveReference(const std::string& body, std::string& out) {
  static const std::map<std::string, char> kPredefined = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  auto named = kPredefined.find(body);
  if (named != kPredefined.end()) {
    out += named->second;
    return true;
  }
  if (body.size() < 2 || body[0] != '#') return false;
  bool hex = body[1] == 'x';
  std::size_t start = hex ? 2 : 1;
  if (start >= body.size()) return false;
  char32_t cp = 0;
  for (std::size_t i = start; i < body.size(); ++i) {
    char c = body[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    cp = cp * (hex ? 16 : 10) + digit;
    if (cp > 0x10FFFF) return false;
  }
  if (!IsXmlChar(cp)) return false;
  AppendUtf8(cp, out);
  return true;
}

// The candidate's text as it is to be stored: a well-formed reference keeps its meaning, every
// other "&" is the character itself.
std::string ResolveReferences(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      // The longest reference the page could mean is "&#x10FFFF;".
      std::size_t semi = text.find(';', i + 1);
      if (semi != std::string::npos && semi - i <= 9 &&
          ResolveReference(text.substr(i + 1, semi - i - 1), out)) {
        i = semi;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// One step of an answer path: an element name and the attributes it must carry.
struct PathStep {
  std::string name;
  std::vector<std::pair<std::string, std::string>> predicates;
};

std::vector<PathStep> SplitAnswerPath(const std::string& key) {
  static const boost::regex predicate("\\[([^\\[\\]]*)=([^\\[\\]]*)\\]");
  std::vector<PathStep> steps;
  std::size_t start = 0;
  while (start <= key.size()) {
    std::size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    std::string segment = key.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    PathStep step;
    step.name = segment.substr(0, segment.find('['));
    for (boost::sregex_iterator it(segment.begin(), segment.end(), predicate), last; it != last;
         ++it) {
      std::string name = (*it)[1].str();
      bool seen = false;
      for (const auto& p : step.predicates) seen = seen || p.first == name;
      if (!seen) step.predicates.emplace_back(name, AnsiToUtf8((*it)[2].str()));
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

struct AnswerItem {
  std::string key;
  std::string value;
  std::string cdata;
  std::map<std::string, std::string> attributes;
  std::string path;
  int type = 0;
};

// Everything an item would put into the document can be written and read back; an item with
// no step would replace the whole document's content.
bool IsWritable(const AnswerItem& item) {
  std::vector<PathStep> steps = SplitAnswerPath(item.key);
  if (steps.empty()) return false;
  for (const PathStep& step : steps) {
    if (!IsXmlName(step.name)) return false;
    for (const auto& p : step.predicates) {
      if (!IsAttributeName(p.first) || !IsXmlText(p.second)) return false;
    }
  }
  for (const auto& a : item.attributes) {
    if (!IsAttributeName(a.first) || !IsXmlText(AnsiToUtf8(a.second))) return false;
  }
  return IsXmlText(ResolveReferences(AnsiToUtf8(item.value))) &&
         IsXmlText(AnsiToUtf8(item.cdata));
}

bool HasPredicates(xmlNode* node, const PathStep& step) {
  for (const auto& p : step.predicates) {
    xmlChar* value = xmlGetProp(node, X(p.first));
    if (!value || TextOf(value) != p.second) return false;
  }
  return true;
}

// The level the element of |steps| stands at: the first step names the root itself when it
// matches it, and otherwise a new child of the root.
std::size_t DepthOf(const std::vector<PathStep>& steps, xmlNode* root) {
  bool at_root = !steps.empty() && steps[0].name == reinterpret_cast<const char*>(root->name) &&
                 HasPredicates(root, steps[0]);
  return steps.size() + (at_root ? 0 : 1);
}

xmlNode* FindOrMakeElement(xmlDoc* doc, xmlNode* root, const std::vector<PathStep>& steps) {
  xmlNode* parent = root;
  xmlNode* candidates = root;
  for (const PathStep& step : steps) {
    xmlNode* found = nullptr;
    for (xmlNode* n = candidates; n && !found; n = n->next) {
      if (n->type == XML_ELEMENT_NODE && step.name == reinterpret_cast<const char*>(n->name) &&
          HasPredicates(n, step))
        found = n;
    }
    if (!found) {
      found = xmlNewDocNode(doc, nullptr, X(step.name), nullptr);
      for (const auto& p : step.predicates) xmlSetProp(found, X(p.first), X(p.second));
      xmlAddChild(parent, found);
    }
    parent = found;
    candidates = parent->children;
  }
  return parent;
}

void ReplaceContent(xmlDoc* doc, xmlNode* element, const std::string& text) {
  for (xmlNode* child = element->children; child;) {
    xmlNode* next = child->next;
    xmlUnlinkNode(child);
    xmlFreeNode(child);
    child = next;
  }
  if (!text.empty()) xmlAddChild(element, xmlNewDocText(doc, X(text)));
}

// Copies an answer file (a recording, say) into the answer folder the same way, so that a
// reply of success always means the file is there whole. A file already in place is kept.
bool CopyAnswerFile(const std::string& from, const std::string& to) {
  namespace fs = boost::filesystem;
  boost::system::error_code ec;
  if (fs::exists(to, ec) && fs::equivalent(from, to, ec)) return true;
  std::string temp = to + ".part";
  fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  if (!ok || std::rename(temp.c_str(), to.c_str()) != 0) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

std::string AnswerFolder() { return g_pMainDlg->Session().answerFolder; }

class ConcreteCommandStartExam : public Command {
 public:
  explicit ConcreteCommandStartExam(const CommandRequest& r) : Command("start exam", r) {
    Json::Value v;
    if (!ParseParams(r, v)) return;
    examineeId = v["examineeId"].asString();
    paperId = v["paperId"].asString();
    // The two name folders inside the answer folder and must stay there.
    if ((!examineeId.empty() && !IsContainedName(examineeId)) ||
        (!paperId.empty() && !IsContainedName(paperId)))
      throw CmdException(kResumeFailed);
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string& name : v.getMemberNames())
      entries.emplace_back(LowerAscii(name), JsonValueToString(v[name]));
    g_pMainDlg->UpdateSession([&](SessionState& s) {
      for (const auto& entry : entries) s.values[entry.first] = entry.second;
    });
  }

  void execute(std::string& reply) override {
    std::string folder = g_pMainDlg->UpdateSession([&](SessionState& s) {
      s.answerFolder = s.cacheFolder + "answer/" + examineeId + "/" + paperId + "/";
      return s.answerFolder;
    });
    if (!IsExistingDir(folder)) {
      // Without the folder no answer could be saved: the examination must not begin as if it
      // could.
      if (MakeDirs(folder, false, true) != 0 && !IsExistingDir(folder)) {
        Log("答案目录创建失败：" + folder);
        BuildCallbackJson(0, "", kResumeFailed, reply);
        return;
      }
    } else if (IsExistingFile(folder + kAnswerFile)) {
      std::vector<std::pair<std::string, std::string>> progress;
      if (!ReadProgress(folder + kAnswerFile, progress)) {
        BuildCallbackJson(0, "", kResumeFailed, reply);
        return;
      }
      g_pMainDlg->UpdateSession([&](SessionState& s) {
        for (const auto& entry : progress) s.values[entry.first] = entry.second;
      });
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  // The children of /test/info, in document order, as lower-case name and text content.
  static bool ReadProgress(const std::string& file,
                           std::vector<std::pair<std::string, std::string>>& progress) {
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    DocPtr doc(xmlReadFile(file.c_str(), nullptr, kReadOptions));
    if (!doc) return false;
    ContextPtr context = NewContext(doc.get());
    ObjectPtr found = Evaluate(context.get(), "/test/info");
    if (NodeCount(found) > 0) {
      for (xmlNode* child = found->nodesetval->nodeTab[0]->children; child; child = child->next) {
        std::string name = child->name ? reinterpret_cast<const char*>(child->name) : "";
        progress.emplace_back(LowerAscii(name), TextOf(xmlNodeGetContent(child)));
      }
    }
    return true;
  }

  std::string examineeId;
  std::string paperId;
};

class ConcreteCommandSaveAnswer : public Command {
 public:
  explicit ConcreteCommandSaveAnswer(const CommandRequest& r) : Command("saveanswer", r) {
    Json::Value v;
    if (!ParseParams(r, v)) return;
    for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
      Json::Value& element = v[i];
      AnswerItem item;
      item.key = element["key"].asString();
      item.value = element["value"].asString();
      item.cdata = element["cdata"].asString();
      item.type = element["type"].asInt();
      item.path = element["path"].asString();
      Json::Value& attributes = element["attr"];
      for (const std::string& name : attributes.getMemberNames())
        item.attributes[name] = JsonValueToString(attributes[name]);
      items.push_back(std::move(item));
    }
  }

  void execute(std::string& reply) override {
    for (const AnswerItem& item : items) {
      if (!IsWritable(item)) {
        BuildCallbackJson(0, "", kSaveFailed, reply);
        return;
      }
    }
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    std::string folder = AnswerFolder();
    std::string file = folder + kAnswerFile;
    std::string why;
    DocPtr doc = OpenForSave(file, why);
    if (!why.empty()) {
      Log("answer.xml读取出错，不保存：" + why);
      BuildCallbackJson(0, "", kSaveFailed, reply);
      return;
    }
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root) {
      BuildCallbackJson(0, "", kSaveFailed, reply);
      return;
    }
    // A document deeper than the parser reads could never be read whole again.
    for (const AnswerItem& item : items) {
      if (DepthOf(SplitAnswerPath(item.key), root) > kMaxDepth) {
        Log("答案路径层次过深：" + item.key.substr(0, 200));
        BuildCallbackJson(0, "", kSaveFailed, reply);
        return;
      }
    }

    for (AnswerItem& item : items) {
      if (item.type == 1) {
        if (!IsExistingFile(item.path)) {
          BuildCallbackJson(0, "", kFileMissing, reply);
          return;
        }
        item.cdata = boost::filesystem::path(item.path).filename().string();
        // The document's own names are not answer files, and the name must fit the document.
        if (IsAnswerDocumentName(item.cdata) || !IsXmlText(item.cdata) ||
            !CopyAnswerFile(item.path, folder + item.cdata)) {
          BuildCallbackJson(0, "", kSaveFailed, reply);
          return;
        }
      }
      xmlNode* element = FindOrMakeElement(doc.get(), root, SplitAnswerPath(item.key));
      ReplaceContent(doc.get(), element, ResolveReferences(AnsiToUtf8(item.value)));
      if (!item.cdata.empty()) {
        std::string cdata = AnsiToUtf8(item.cdata);
        xmlAddChild(element, xmlNewCDataBlock(doc.get(), X(cdata), static_cast<int>(cdata.size())));
      }
      for (const auto& a : item.attributes)
        xmlSetProp(element, X(a.first), X(AnsiToUtf8(a.second)));
    }

    if (!SaveAnswerDocument(std::move(doc), folder, file)) {
      BuildCallbackJson(0, "", kSaveFailed, reply);
      return;
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  // The tree to edit: the one the last save kept while the file is still what it wrote, else
  // the file read afresh, else a new document when there is no file. |why| is set when the
  // file was read with an error: a tree recovered from a damaged file lacks what the parser
  // could not read, and saving it would overwrite the answers still in the file.
  static DocPtr OpenForSave(const std::string& file, std::string& why) {
    why.clear();
    FileIdentity current;
    bool exists = IsExistingFile(file) && ReadFileIdentity(file, current);
    DocPtr doc = KeptAnswerDocument().Take(file, exists ? current : FileIdentity());
    if (doc) return doc;
    if (exists) return ReadAnswerDocument(file, why);
    doc.reset(xmlNewDoc(X("1.0")));
    xmlDocSetRootElement(doc.get(), xmlNewDocNode(doc.get(), nullptr, X("test"), nullptr));
    return doc;
  }

  std::vector<AnswerItem> items;
};

class ConcreteCommandGetAnswer : public Command {
 public:
  explicit ConcreteCommandGetAnswer(const CommandRequest& r) : Command("getanswer", r) {
    Json::Value v;
    if (!ParseParams(r, v)) return;
    for (Json::ArrayIndex i = 0; i < v.size(); ++i) identifiers.push_back(v[i].asString());
  }

  void execute(std::string& reply) override {
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    std::string file = AnswerFolder() + kAnswerFile;
    DocPtr doc;
    if (IsExistingFile(file))
      doc.reset(xmlReadFile(file.c_str(), "utf-8", kReadOptions | XML_PARSE_RECOVER));
    if (!doc) {
      BuildCallbackJson(1, "{}", "", reply);
      return;
    }
    ContextPtr context = NewContext(doc.get());
    Json::Value result;
    for (const std::string& id : identifiers) {
      ObjectPtr found = Evaluate(context.get(), "//" + id + "/response");
      std::size_t count = NodeCount(found);
      bool any = false;
      for (std::size_t i = 0; i < count; ++i) {
        xmlNode* node = ElementAt(found, i);
        if (!node) continue;
        any = true;
        Json::Value response(Json::objectValue);
        response["id"] = TextOf(xmlGetProp(node, X("id")));
        std::string answer;
        for (xmlNode* child = node->children; child; child = child->next) {
          if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, X("answer"))) {
            answer = Utf8ToAnsi(TextOf(xmlNodeGetContent(child)));
            break;
          }
        }
        response["answer"] = answer;
        result[id].append(response);
      }
      if (!any) result[id].append("{}");
    }
    BuildCallbackJson(1, WriteJson(result), "", reply);
  }

 private:
  std::vector<std::string> identifiers;
};

}  // namespace

void RegisterAnswerCommands() {
  // The parser's global state is set up once, before any worker parses a document.
  xmlInitParser();
  CommandFactory::Register("startexam", &MakeCommand<ConcreteCommandStartExam>);
  CommandFactory::Register("saveanswer", &MakeCommand<ConcreteCommandSaveAnswer>);
  CommandFactory::Register("getanswer", &MakeCommand<ConcreteCommandGetAnswer>);
}
