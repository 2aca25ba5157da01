// A named message between the program and a web process, with a list of values.
#pragma once

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_string.h"
#include "platform/cef/cef_values.h"

enum CefProcessId {
  PID_BROWSER,
  PID_RENDERER,
};

class CefProcessMessage;

// The way back to the sender of a received message, where the transport has one: the answer
// travels as the reply to that very message, not as a message of its own.
class CefProcessMessageReply : public virtual CefBase {
 public:
  // Sends |reply| back, from any thread; it leaves from the main thread, after what was sent
  // before from there. False when a reply was sent already.
  virtual bool Send(CefRefPtr<CefProcessMessage> reply) = 0;
};

class CefProcessMessage : public CefRefCounted<CefProcessMessage> {
 public:
  static CefRefPtr<CefProcessMessage> Create(const CefString& name);
  // With an argument list of its own (not copied).
  static CefRefPtr<CefProcessMessage> Create(const CefString& name,
                                             CefRefPtr<CefListValue> arguments);
  const CefString& GetName() const { return name_; }
  CefRefPtr<CefListValue> GetArgumentList() const { return args_; }
  // A received message that can be answered directly carries the way to do it; null otherwise.
  CefRefPtr<CefProcessMessageReply> GetReply() const { return reply_; }
  void SetReply(CefRefPtr<CefProcessMessageReply> reply) { reply_ = reply; }

 private:
  CefString name_;
  CefRefPtr<CefProcessMessageReply> reply_;
  CefRefPtr<CefListValue> args_ = CefListValue::Create();
};
