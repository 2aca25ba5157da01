// Downloads of the program's browsers: WebKit's downloads as CEF's download items, handed to the
// client's download handler, which decides where each one goes.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "platform/cef/cef_gtk_internal.h"

namespace {

class DownloadItem : public CefDownloadItem,
                     public CefBeforeDownloadCallback,
                     public CefDownloadItemCallback,
                     public CefRefCounted<DownloadItem> {
 public:
  DownloadItem(WebKitDownload* d, CefRefPtr<CefBrowser> b, CefRefPtr<CefClient> c)
      : download_(WEBKIT_DOWNLOAD(g_object_ref(d))), browser_(b), client_(c) {}
  ~DownloadItem() override { g_object_unref(download_); }

  bool IsInProgress() override { return !done_ && !failed_; }
  bool IsComplete() override { return done_ && !failed_; }
  bool IsCanceled() override { return canceled_; }
  CefString GetFullPath() override {
    const char* dest = webkit_download_get_destination(download_);
    if (!dest) return CefString();
    if (g_str_has_prefix(dest, "file://")) {
      gchar* path = g_filename_from_uri(dest, nullptr, nullptr);
      CefString out(path ? path : "");
      g_free(path);
      return out;
    }
    return CefString(dest);
  }
  CefString GetURL() override {
    WebKitURIRequest* r = webkit_download_get_request(download_);
    return CefString(r ? webkit_uri_request_get_uri(r) : "");
  }

  void Continue(const CefString& download_path, bool show_dialog) override {
    std::string path = download_path.ToString();
    if (show_dialog) path = AskSavePath(path);
    if (path.empty()) return;
    webkit_download_set_destination(download_, path.c_str());
    continued_ = true;
  }
  void Cancel() override { webkit_download_cancel(download_); }

  std::string AskSavePath(const std::string& proposal) {
    GtkWidget* anchor =
        browser_ ? static_cast<GtkWidget*>(browser_->GetHost()->GetWindowHandle()) : nullptr;
    GtkWidget* top = anchor ? gtk_widget_get_toplevel(anchor) : nullptr;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "Save File", GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
        "_Cancel", GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (!proposal.empty()) {
      gchar* dir = g_path_get_dirname(proposal.c_str());
      gchar* base = g_path_get_basename(proposal.c_str());
      gtk_file_chooser_set_current_folder(chooser, dir);
      gtk_file_chooser_set_current_name(chooser, base);
      g_free(dir);
      g_free(base);
    }
    std::string chosen;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
      gchar* f = gtk_file_chooser_get_filename(chooser);
      if (f) chosen = f;
      g_free(f);
    }
    gtk_widget_destroy(dialog);
    return chosen;
  }

  WebKitDownload* download_;
  CefRefPtr<CefBrowser> browser_;
  CefRefPtr<CefClient> client_;
  bool continued_ = false;
  bool done_ = false;
  bool failed_ = false;
  bool canceled_ = false;
};

gboolean OnDecideDestination(WebKitDownload* d, gchar* suggested, DownloadItem* item) {
  auto h = item->client_->GetDownloadHandler();
  if (h) h->OnBeforeDownload(item->browser_.get(), item, suggested ? suggested : "", item);
  if (!item->continued_) webkit_download_cancel(d);
  return TRUE;
}

void OnDownloadFailed(WebKitDownload*, GError* error, DownloadItem* item) {
  item->failed_ = true;
  item->canceled_ =
      g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER);
  if (auto h = item->client_->GetDownloadHandler())
    h->OnDownloadUpdated(item->browser_.get(), item, item);
}

void OnDownloadFinished(WebKitDownload*, DownloadItem* item) {
  // "finished" also follows a failure; that one was reported already.
  item->done_ = true;
  if (item->failed_) return;
  if (auto h = item->client_->GetDownloadHandler())
    h->OnDownloadUpdated(item->browser_.get(), item, item);
}

void OnDownloadStarted(WebKitWebContext*, WebKitDownload* d, gpointer) {
  CefRefPtr<CefBrowser> browser;
  CefRefPtr<CefClient> client;
  if (!cef_internal::FindBrowserOfView(webkit_download_get_web_view(d), browser, client) ||
      !client->GetDownloadHandler()) {
    webkit_download_cancel(d);
    return;
  }
  DownloadItem* item = new DownloadItem(d, browser, client);
  item->AddRef();  // held by the signal connections until the download object goes
  g_signal_connect(d, "decide-destination", G_CALLBACK(OnDecideDestination), item);
  g_signal_connect(d, "failed", G_CALLBACK(OnDownloadFailed), item);
  g_signal_connect(d, "finished", G_CALLBACK(OnDownloadFinished), item);
  g_object_weak_ref(
      G_OBJECT(d), [](gpointer p, GObject*) { static_cast<DownloadItem*>(p)->Release(); }, item);
}

}  // namespace

void cef_internal::ConnectDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started", G_CALLBACK(OnDownloadStarted), nullptr);
}

void cef_internal::DisconnectDownloads(WebKitWebContext* context) {
  g_signal_handlers_disconnect_by_func(context, reinterpret_cast<gpointer>(OnDownloadStarted),
                                       nullptr);
}
