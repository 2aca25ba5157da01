#include "browser_host/client_renderer.h"

namespace client_renderer {

const char kFocusedNodeChangedMessage[] = "ClientRenderer.FocusedNodeChanged";

void ClientRenderDelegate::OnFocusedNodeChanged(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser> browser,
                                                CefRefPtr<CefFrame>, CefRefPtr<CefDOMNode> node) {
  bool editable = node && node->IsEditable();
  if (editable == last_node_is_editable_) return;
  last_node_is_editable_ = editable;
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(kFocusedNodeChangedMessage);
  message->GetArgumentList()->SetBool(0, editable);
  browser->SendProcessMessage(PID_BROWSER, message);
}

void CreateRenderDelegates(ClientApp::RenderDelegateSet& delegates) {
  delegates.insert(new ClientRenderDelegate());
}

}  // namespace client_renderer
