// The renderer's delegate that tells the program whether the focused element is editable.
#pragma once

#include "browser_host/client_app.h"

namespace client_renderer {

extern const char kFocusedNodeChangedMessage[];  // "ClientRenderer.FocusedNodeChanged"

class ClientRenderDelegate : public ClientApp::RenderDelegate,
                             public CefRefCounted<ClientRenderDelegate> {
 public:
  void OnFocusedNodeChanged(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame, CefRefPtr<CefDOMNode> node) override;

 private:
  bool last_node_is_editable_ = false;
};

void CreateRenderDelegates(ClientApp::RenderDelegateSet& delegates);

}  // namespace client_renderer
