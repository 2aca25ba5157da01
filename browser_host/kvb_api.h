// The browser host's exported C interface. The client executable links the browser host with
// exports enabled, so every function below is visible under exactly this name
// (`nm -D --defined-only` lists them).
//
// Order of calls (all on the GTK main thread unless noted):
//   KVBExecProcess(NULL)        -> -1: WebKit starts its own helper processes, go on
//   KVBCefInit()                -> 1, or 0: show the start-up error and end (it initialises
//                               GTK when the caller has not; 0 also when there is no display
//                               or the web-process extension is missing beside the program)
//   KVBReg...CallBack(...)      dispatch, load end, load start, load error
//   KVBCreateCEFMainBrowser(container, "about:blank")
//                               from an idle callback of the caller's own main loop: runs the
//                               browser loop nested inside that callback and returns when the
//                               last browser (developer tools included) has closed
//   KVBCloseCEFMainBrowser()    from the teardown, while the browser loop runs; the loop ends
//                               when the last browser has closed
//   KVBCefShutdown()            after the caller's own loop has ended
//
// Texts are NUL-terminated UTF-8 (the "ANSI" texts of the program are UTF-8 on this platform).
#pragma once

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KVB_EXPORT __attribute__((visibility("default")))

// Handles keep their places in the signatures. An instance handle is not used on this
// platform (pass NULL). A window handle is a GtkWidget*: the application window handed to
// KVBCreateCEFMainBrowser must be a GtkContainer (a GtkBox, GtkEventBox, GtkWindow, ...) that the
// browser's parent widget fills; KVBGetCEFHandle returns that parent widget.
typedef void* KVBInstanceHandle;
typedef void* KVBWindowHandle;

// A page command, called on a pool worker, several at a time. The returned text is copied at
// once and sent to the page as the reply; it must stay valid until the call returns. NULL is
// answered as "".
typedef const char* (*DisptchCmdCallBack)(const char* region, const char* name, const char* params,
                                          const char* type);
// Every frame of every browser that finished loading; |url| is that browser's main-frame URL.
typedef void (*LoadEndCallBack)(const char* url);
// Every frame of every browser that starts loading.
typedef void (*LoadStartCallBack)(void);
// Every failed load of any frame.
typedef void (*LoadErrorCallBack)(const char* failedUrl);
// The main frame of the main browser changed its address.
typedef void (*AddressChangeCallback)(const char* url);
// Once, when the first (main) browser has been created.
typedef void (*MainCefBrowserCreatedCallBack)(void);
// Before every navigation of every browser; true cancels it.
typedef bool (*DoBeforeResourceLoadCallBack)(const char* url);
// The custom scheme's resources: size in bytes (-1 unknown), and content. The content block is
// allocated with new[]; the caller copies it and releases it with delete[]. |length| receives
// the number of bytes returned; count 0 with offset 0 asks for the whole resource.
typedef int (*GetResSizeCallback)(const char* a, const char* b, const char* c);
typedef char* (*LoadResContentCallback)(const char* a, const char* b, const char* c, int* length,
                                        int count, int offset);

KVB_EXPORT int KVBExecProcess(KVBInstanceHandle instance);
KVB_EXPORT int KVBCefInit(void);
KVB_EXPORT void KVBCefShutdown(void);
KVB_EXPORT void KVBCreateCEFMainBrowser(KVBWindowHandle applicationWindow, const char* url);
KVB_EXPORT void KVBCreateSubCEFBrowser(const char* url, int left, int top, int right, int bottom,
                                       const char* title);
KVB_EXPORT void KVBCloseCEFMainBrowser(void);
KVB_EXPORT void KVBCloseAllBrowsers(void);
// KVBNavigate and KVBExecJS may be called from any thread; off the main thread they are
// handed to it and return without waiting.
KVB_EXPORT void KVBNavigate(const char* url);
KVB_EXPORT void KVBNavBack(void);
KVB_EXPORT void KVBNavForeWard(void);
KVB_EXPORT void KVBNavRefresh(void);
KVB_EXPORT void KVBNavCancel(void);
KVB_EXPORT void KVBExecJS(const char* code, const char* scriptUrl);
KVB_EXPORT void KVBShowDevTools(void);
KVB_EXPORT KVBWindowHandle KVBGetCEFHandle(void);

// Each stores its callback when it is not NULL: a callback can be replaced, never removed.
KVB_EXPORT void KVBRegDisptchCmdCallBack(DisptchCmdCallBack callback);
KVB_EXPORT void KVBRegLoadEndCallBack(LoadEndCallBack callback);
KVB_EXPORT void KVBRegLoadStartCallBack(LoadStartCallBack callback);
KVB_EXPORT void KVBRegLoadErrorCallBack(LoadErrorCallBack callback);
KVB_EXPORT void KVBRegAddressChangeCallback(AddressChangeCallback callback);
KVB_EXPORT void KVBRegMainCefBrowserCreatedCallBack(MainCefBrowserCreatedCallBack callback);
KVB_EXPORT void KVBRegDoBeforeResourceLoadCallBack(DoBeforeResourceLoadCallBack callback);
KVB_EXPORT void KVBRegGetResSizeCallback(GetResSizeCallback callback);
KVB_EXPORT void KVBRegLoadResContentCallback(LoadResContentCallback callback);

// Exported beside the others; does nothing.
KVB_EXPORT void SetParams(void);

#ifdef __cplusplus
}
#endif
