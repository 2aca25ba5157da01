#!/usr/bin/env bash
# Every function of the host's interface is a defined dynamic symbol of the program.
set -euo pipefail
symbols=$(nm -D --defined-only "$1" | awk '{print $3}')
missing=0
for name in KVBExecProcess KVBCefInit KVBCefShutdown KVBCreateCEFMainBrowser \
    KVBCreateSubCEFBrowser KVBCloseCEFMainBrowser KVBCloseAllBrowsers KVBNavigate KVBNavBack \
    KVBNavForeWard KVBNavRefresh KVBNavCancel KVBExecJS KVBShowDevTools KVBGetCEFHandle \
    KVBRegDisptchCmdCallBack KVBRegLoadEndCallBack KVBRegLoadStartCallBack \
    KVBRegLoadErrorCallBack KVBRegAddressChangeCallback KVBRegMainCefBrowserCreatedCallBack \
    KVBRegDoBeforeResourceLoadCallBack KVBRegGetResSizeCallback KVBRegLoadResContentCallback \
    SetParams; do
  if ! grep -qx "$name" <<<"$symbols"; then
    echo "missing export: $name"
    missing=1
  fi
done
exit $missing
