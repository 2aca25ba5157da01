// The nine callback slots of the exported interface. Registered on the main thread, read on
// whichever thread reports the event.
#pragma once

#include <atomic>

#include "browser_host/kvb_api.h"

struct HostCallbacks {
  std::atomic<DisptchCmdCallBack> dispatch{nullptr};
  std::atomic<LoadEndCallBack> loadEnd{nullptr};
  std::atomic<LoadStartCallBack> loadStart{nullptr};
  std::atomic<LoadErrorCallBack> loadError{nullptr};
  std::atomic<AddressChangeCallback> addressChange{nullptr};
  std::atomic<MainCefBrowserCreatedCallBack> mainBrowserCreated{nullptr};
  std::atomic<DoBeforeResourceLoadCallBack> beforeResourceLoad{nullptr};
  std::atomic<GetResSizeCallback> resSize{nullptr};
  std::atomic<LoadResContentCallback> resContent{nullptr};
};

HostCallbacks& Callbacks();
