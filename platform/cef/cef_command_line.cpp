#include "platform/cef/cef_command_line.h"

std::string CefCommandLine::SwitchName(const std::string& given) {
  size_t i = 0;
  while (i < given.size() && i < 2 && given[i] == '-') ++i;
  return given.substr(i);
}

CefRefPtr<CefCommandLine> CefCommandLine::GetGlobalCommandLine() {
  static CefRefPtr<CefCommandLine> global = Create();
  return global;
}

void CefCommandLine::AppendSwitchWithValue(const CefString& name, const CefString& value) {
  switches_.emplace_back(name.ToString(), value.ToString());
}

bool CefCommandLine::HasSwitch(const CefString& name) const {
  std::string wanted = SwitchName(name.ToString());
  for (const auto& s : switches_)
    if (SwitchName(s.first) == wanted) return true;
  return false;
}

CefString CefCommandLine::GetSwitchValue(const CefString& name) const {
  std::string wanted = SwitchName(name.ToString());
  for (const auto& s : switches_)
    if (SwitchName(s.first) == wanted) return s.second;
  return CefString();
}

std::vector<std::string> CefCommandLine::GetSwitchTexts() const {
  std::vector<std::string> out;
  for (const auto& s : switches_)
    out.push_back(s.second.empty() ? s.first : s.first + "=" + s.second);
  return out;
}
