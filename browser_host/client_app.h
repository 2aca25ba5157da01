// The application object of every process: the program's switches and schemes, and in the web
// processes the anchor of the page bridge (the extension, the table of page callbacks and the
// render delegates).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_v8.h"

class ClientApp : public CefApp,
                  public CefBrowserProcessHandler,
                  public CefRenderProcessHandler,
                  public CefRefCounted<ClientApp> {
 public:
  // Renderer-side listeners; every default only lets its arguments go.
  class RenderDelegate : public virtual CefBase {
   public:
    virtual void OnRenderThreadCreated(CefRefPtr<ClientApp>, CefRefPtr<CefListValue>) {}
    virtual void OnWebKitInitialized(CefRefPtr<ClientApp>) {}
    virtual void OnBrowserCreated(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>) {}
    virtual void OnBrowserDestroyed(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>) {}
    virtual void OnContextCreated(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                  CefRefPtr<CefV8Context>) {}
    virtual void OnContextReleased(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                   CefRefPtr<CefV8Context>) {}
    virtual void OnFocusedNodeChanged(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>,
                                      CefRefPtr<CefFrame>, CefRefPtr<CefDOMNode>) {}
    virtual bool OnProcessMessageReceived(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefProcessId,
                                          CefRefPtr<CefProcessMessage>) {
      return false;
    }
  };
  typedef std::set<CefRefPtr<RenderDelegate>> RenderDelegateSet;

  // A page callback waiting for the reply filed under its message name.
  struct CallbackEntry {
    CefRefPtr<CefV8Context> context;
    CefRefPtr<CefV8Value> receiver;
    CefRefPtr<CefV8Value> function;
  };
  typedef std::map<std::string, CallbackEntry> CallbackMap;

  ClientApp();

  // Files |entry| under |key|; an entry already filed there stays and |entry| is dropped.
  void SetMessageCallback(const std::string& key, const CallbackEntry& entry);
  const CallbackMap& callbacks() const { return callbacks_; }
  const std::vector<CefString>& cookieable_schemes() const { return cookieable_schemes_; }

  // CefApp
  void OnBeforeCommandLineProcessing(const CefString& process_type,
                                     CefRefPtr<CefCommandLine> command_line) override;
  void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) override;
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

  // CefBrowserProcessHandler
  void OnContextInitialized() override;

  // CefRenderProcessHandler
  void OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info) override;
  void OnWebKitInitialized() override;
  void OnBrowserCreated(CefRefPtr<CefBrowser> browser) override;
  void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) override;
  void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                        CefRefPtr<CefV8Context> context) override;
  void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                         CefRefPtr<CefV8Context> context) override;
  void OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                            CefRefPtr<CefDOMNode> node) override;
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                CefRefPtr<CefProcessMessage> message) override;

 private:
  CallbackMap callbacks_;
  RenderDelegateSet render_delegates_;
  std::vector<CefString> cookieable_schemes_;
};
