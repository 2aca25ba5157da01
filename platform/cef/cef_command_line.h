// The program's switches. WebKit takes no command line: the switches that have a WebKit
// setting are applied from here when the first browser is made, the rest are only kept.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_string.h"

class CefCommandLine : public CefRefCounted<CefCommandLine> {
 public:
  static CefRefPtr<CefCommandLine> Create() { return new CefCommandLine(); }
  // The browser process's own command line, filled while the browser layer starts.
  static CefRefPtr<CefCommandLine> GetGlobalCommandLine();

  // A switch is stored as given; a leading "--" or "-" is not part of its name.
  void AppendSwitch(const CefString& name) { AppendSwitchWithValue(name, CefString()); }
  void AppendSwitchWithValue(const CefString& name, const CefString& value);
  bool HasSwitch(const CefString& name) const;
  CefString GetSwitchValue(const CefString& name) const;
  // Switches in the order appended, each as given ("name" or "name=value").
  std::vector<std::string> GetSwitchTexts() const;

  static std::string SwitchName(const std::string& given);

 private:
  std::vector<std::pair<std::string, std::string>> switches_;  // as given, value
};
