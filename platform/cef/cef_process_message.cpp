#include "platform/cef/cef_process_message.h"

CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const CefString& name) {
  CefRefPtr<CefProcessMessage> m = new CefProcessMessage();
  m->name_ = name;
  return m;
}

CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const CefString& name,
                                                       CefRefPtr<CefListValue> arguments) {
  CefRefPtr<CefProcessMessage> m = Create(name);
  if (arguments) m->args_ = arguments;
  return m;
}
