// The parts of the browser layer that both the program and the web processes link.
#include <mutex>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_internal.h"

namespace {

std::vector<cef_internal::Extension>& Extensions() {
  static std::vector<cef_internal::Extension> list;
  return list;
}

class CookieManager : public CefCookieManager, public CefRefCounted<CookieManager> {
 public:
  void SetSupportedSchemes(const std::vector<CefString>& schemes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    schemes_ = schemes;
  }
  std::vector<CefString> GetSupportedSchemes() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return schemes_;
  }

 private:
  std::mutex mutex_;
  std::vector<CefString> schemes_{"http", "https"};
};

}  // namespace

const std::vector<cef_internal::Extension>& cef_internal::RegisteredExtensions() {
  return Extensions();
}

bool CefRegisterExtension(const CefString& extension_name, const CefString& javascript_code,
                          CefRefPtr<CefV8Handler> handler) {
  if (extension_name.empty() || !handler) return false;
  for (const auto& e : Extensions())
    if (e.name == extension_name.ToString()) return false;
  Extensions().push_back({extension_name.ToString(), javascript_code.ToString(), handler});
  return true;
}

std::string cef_internal::BindNativeFunctions(const std::string& code,
                                              const std::string& dispatcher) {
  static const std::string kDecl = "native function ";
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t at = code.find(kDecl, pos);
    if (at == std::string::npos) break;
    size_t nameStart = at + kDecl.size();
    size_t paren = code.find("();", nameStart);
    if (paren == std::string::npos) break;
    std::string name = code.substr(nameStart, paren - nameStart);
    out.append(code, pos, at - pos);
    out += "function " + name + "(){return " + dispatcher + "(\"" + name + "\",this,...arguments);}";
    pos = paren + 3;
  }
  out.append(code, pos, std::string::npos);
  return out;
}

CefRefPtr<CefCookieManager> CefCookieManager::GetGlobalManager() {
  static CefRefPtr<CefCookieManager> manager = new CookieManager();
  return manager;
}
