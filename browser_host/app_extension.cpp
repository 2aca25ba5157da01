#include "browser_host/app_extension.h"

#include <glib.h>

#include "browser_host/bridge_text.h"
#include "browser_host/page_fs.h"

// One line: the pieces below are joined without line breaks.
const char kAppExtensionScript[] =
    "var cef;"
    "if (!cef)  cef = {};"
    "if (!cef.message)  cef.message = {};"
    "if (!cef.fs)  cef.fs = {};"
    "(function() {"
    "  cef.message.sendMessage = function(name, arguments) {"
    "    native function sendMessage();"
    "    return sendMessage(name, arguments);"
    "  };"
    "  cef.message.setMessageCallback = function(name, callback) {"
    "    native function setMessageCallback();"
    "    return setMessageCallback(name, callback);"
    "  };"
    "  cef.message.removeMessageCallback = function(name) {"
    "    native function removeMessageCallback();"
    "    return removeMessageCallback(name);"
    "  };"
    "  cef.fs.readAll = function(fileName) {"
    "    native function readFileAll();"
    "    return readFileAll(fileName);"
    "  };"
    "  cef.fs.writeAll = function(fileName, contents) {"
    "    native function writeFileAll();"
    "    return writeFileAll(fileName, contents);"
    "  };"
    "  cef.fs.fileExists = function(fileName) {"
    "    native function fileExists();"
    "    return fileExists(fileName);"
    "  };"
    "  cef.fs.dirExists = function(dirPath) {"
    "    native function dirExists();"
    "    return dirExists(dirPath);"
    "  };"
    "  cef.fs.createDir = function(dirPath) {"
    "    native function createDir();"
    "    return createDir(dirPath);"
    "  };"
    "  cef.fs.deleteDir = function(dirPath) {"
    "    native function deleteDir();"
    "    return deleteDir(dirPath);"
    "  };"
    "})();";

int g_funcId = 0;

namespace {

const char kInvalidArguments[] = "Invalid method arguments";

bool IsStringArg(const CefV8ValueList& a, size_t i) {
  return i < a.size() && a[i] && a[i]->IsString();
}

std::string ValidUtf8(const std::string& text) {
  if (g_utf8_validate(text.data(), text.size(), nullptr)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), text.size());
  std::string out(valid);
  g_free(valid);
  return out;
}

}  // namespace

std::string MakeCallbackInfoJson(int browserId, const std::string& funcName, int64_t frameId) {
  return bridge_text::WriteRequestName(browserId, frameId, g_funcId, funcName);
}

void CopyV8ArrayToList(CefRefPtr<CefV8Value> source, CefRefPtr<CefListValue> target) {
  int length = source->GetArrayLength();
  if (length == 0) return;
  target->SetSize(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) CopyV8ValueToList(target, i, source->GetValue(i));
}

void CopyV8ValueToList(CefRefPtr<CefListValue> target, int index, CefRefPtr<CefV8Value> value) {
  if (!value) return;
  if (value->IsArray()) {
    CefRefPtr<CefListValue> list = CefListValue::Create();
    CopyV8ArrayToList(value, list);
    target->SetList(index, list);
  } else if (value->IsString()) {
    target->SetString(index, value->GetStringValue());
  } else if (value->IsBool()) {
    target->SetBool(index, value->GetBoolValue());
  } else if (value->IsInt()) {
    target->SetInt(index, value->GetIntValue());
  } else if (value->IsDouble()) {
    target->SetDouble(index, value->GetDoubleValue());
  }
}

void CopyListToV8Array(CefRefPtr<CefListValue> source, CefRefPtr<CefV8Value> target) {
  int size = static_cast<int>(source->GetSize());
  for (int i = 0; i < size; ++i) CopyListValueToV8(target, source, i);
}

void CopyListValueToV8(CefRefPtr<CefV8Value> target, CefRefPtr<CefListValue> source, int index) {
  CefRefPtr<CefV8Value> value;
  switch (source->GetType(index)) {
    case VTYPE_BOOL:
      value = CefV8Value::CreateBool(source->GetBool(index));
      break;
    case VTYPE_INT:
      value = CefV8Value::CreateInt(source->GetInt(index));
      break;
    case VTYPE_DOUBLE:
      value = CefV8Value::CreateDouble(source->GetDouble(index));
      break;
    case VTYPE_STRING:
      value = CefV8Value::CreateString(source->GetString(index));
      break;
    case VTYPE_LIST: {
      CefRefPtr<CefListValue> list = source->GetList(index);
      value = CefV8Value::CreateArray(static_cast<int>(list->GetSize()));
      CopyListToV8Array(list, value);
      break;
    }
    default:
      value = CefV8Value::CreateNull();
      break;
  }
  target->SetValue(index, value);
}

namespace {

// Whether the calling context belongs to a frame of a browser (the bridge needs both).
bool HasBrowserAndFrame(const CefRefPtr<CefV8Context>& context) {
  return context && context->GetBrowser() && context->GetFrame();
}

// The message name of the page's request |name| in |context|, with the current g_funcId.
std::string CallbackKey(const CefRefPtr<CefV8Context>& context,
                        const CefRefPtr<CefV8Value>& name) {
  return MakeCallbackInfoJson(context->GetBrowser()->GetIdentifier(),
                              bridge_text::AsWideRoundTrip(name->GetStringValue().ToString()),
                              context->GetFrame()->GetIdentifier());
}

}  // namespace

bool ClientAppExtensionHandler::Execute(const CefString& name, CefRefPtr<CefV8Value> object,
                                        const CefV8ValueList& arguments,
                                        CefRefPtr<CefV8Value>& retval, CefString& exception) {
  const std::string& n = name.ToString();
  const size_t count = arguments.size();
  if (n == "sendMessage") {
    if ((count != 1 && count != 2) || !IsStringArg(arguments, 0)) {
      exception = kInvalidArguments;
      return true;
    }
    CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
    if (!HasBrowserAndFrame(context)) {
      exception = kInvalidArguments;
      return true;
    }
    // Wraps instead of overflowing; a wrapped 0 is refused by the program like any 0.
    g_funcId = static_cast<int>(static_cast<unsigned>(g_funcId) + 1u);
    CefRefPtr<CefProcessMessage> message =
        CefProcessMessage::Create(CallbackKey(context, arguments[0]));
    if (count == 2 && arguments[1] && arguments[1]->IsArray())
      CopyV8ArrayToList(arguments[1], message->GetArgumentList());
    context->GetBrowser()->SendProcessMessage(PID_BROWSER, message);
  } else if (n == "setMessageCallback") {
    if (count != 2 || !IsStringArg(arguments, 0) || !arguments[1] || !arguments[1]->IsFunction()) {
      exception = kInvalidArguments;
      return true;
    }
    CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
    if (!HasBrowserAndFrame(context)) {
      exception = kInvalidArguments;
      return true;
    }
    app_->SetMessageCallback(CallbackKey(context, arguments[0]), {context, object, arguments[1]});
  } else if (n == "readFileAll") {
    if (count != 1 || !IsStringArg(arguments, 0)) {
      exception = kInvalidArguments;
      return true;
    }
    std::string path = arguments[0]->GetStringValue().ToString();
    std::string text;
    int error = 0;
    page_fs::ReadFileAll(path, text, error);
    if (error == -1) {
      exception = "Failed to read file " + path;
      return true;
    }
    retval = CefV8Value::CreateString(ValidUtf8(text));
  } else if (n == "writeFileAll") {
    if (count != 2 || !IsStringArg(arguments, 0) || !IsStringArg(arguments, 1)) {
      exception = kInvalidArguments;
      return true;
    }
    std::string path = arguments[0]->GetStringValue().ToString();
    int error = 0;
    page_fs::WriteFileAll(path, arguments[1]->GetStringValue().ToString(), error);
    if (error == -1) exception = "Failed to write file " + path;
  } else if (n == "fileExists" || n == "dirExists" || n == "createDir" || n == "deleteDir") {
    if (count != 1 || !IsStringArg(arguments, 0)) {
      exception = kInvalidArguments;
      return true;
    }
    std::string path = arguments[0]->GetStringValue().ToString();
    bool result = n == "fileExists"  ? page_fs::FileExists(path)
                  : n == "dirExists" ? page_fs::DirExists(path)
                  : n == "createDir" ? page_fs::CreateDir(path)
                                     : page_fs::DeleteDir(path);
    retval = CefV8Value::CreateBool(result);
  } else {
    exception = kInvalidArguments;
  }
  return true;
}
