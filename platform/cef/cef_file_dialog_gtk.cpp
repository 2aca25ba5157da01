// A browser host's file dialogs: GtkFileChooserDialog, modal on the browser's window, run
// without blocking the main loop so the page and the program go on while it is open.
#include <gtk/gtk.h>

#include <memory>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_browser.h"
#include "platform/cef/cef_file_dialog_plan.h"

namespace {

// Shared by a dialog's "response" handler and the end of its connection. The callback is
// taken out when it is called, so it hears the outcome once.
struct PendingDialog {
  CefRefPtr<CefBrowserHost> host;
  CefRefPtr<CefRunFileDialogCallback> callback;
};

std::vector<CefString> ChosenPaths(GtkFileChooser* chooser) {
  std::vector<CefString> paths;
  GSList* files = gtk_file_chooser_get_filenames(chooser);
  for (GSList* f = files; f; f = f->next) paths.emplace_back(static_cast<const char*>(f->data));
  g_slist_free_full(files, g_free);
  return paths;
}

void OnResponse(GtkDialog* dialog, gint response, gpointer data) {
  auto* pending = static_cast<PendingDialog*>(data);
  // Closing the window or Escape also end here; only the accept button chooses.
  std::vector<CefString> paths;
  if (response == GTK_RESPONSE_ACCEPT) paths = ChosenPaths(GTK_FILE_CHOOSER(dialog));
  CefRefPtr<CefBrowserHost> host = pending->host;
  CefRefPtr<CefRunFileDialogCallback> callback = pending->callback;
  pending->callback = nullptr;
  // Frees |pending| once this handler has returned.
  gtk_widget_destroy(GTK_WIDGET(dialog));
  if (callback) callback->OnFileDialogDismissed(host, paths);
}

// The connection ends with the dialog. A dialog destroyed without an answer (its window
// went with the browser's) still tells its callback, with no path.
void OnConnectionEnded(gpointer data, GClosure*) {
  std::unique_ptr<PendingDialog> pending(static_cast<PendingDialog*>(data));
  if (pending->callback) pending->callback->OnFileDialogDismissed(pending->host, {});
}

void AddFilters(GtkFileChooser* chooser, const std::vector<cef_internal::FileDialogFilter>& all) {
  GtkFileFilter* first = nullptr;
  for (const cef_internal::FileDialogFilter& f : all) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.name.c_str());
    for (const std::string& mime : f.mime_types)
      gtk_file_filter_add_mime_type(filter, mime.c_str());
    for (const std::string& glob : f.patterns) gtk_file_filter_add_pattern(filter, glob.c_str());
    gtk_file_chooser_add_filter(chooser, filter);  // takes the new filter
    if (!first) first = filter;
  }
  if (first) gtk_file_chooser_set_filter(chooser, first);
}

GtkWidget* NewDialog(const cef_internal::FileDialogPlan& plan, GtkWindow* parent) {
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      plan.title.c_str(), parent,
      plan.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
      GTK_RESPONSE_CANCEL, plan.accept_label.c_str(), GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_select_multiple(chooser, plan.select_multiple);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, plan.save);
  AddFilters(chooser, plan.filters);
  // A folder or file that is not there would only bring up the toolkit's error.
  if (!plan.folder.empty() && g_file_test(plan.folder.c_str(), G_FILE_TEST_IS_DIR))
    gtk_file_chooser_set_current_folder(chooser, plan.folder.c_str());
  if (!plan.file_to_select.empty() && g_file_test(plan.file_to_select.c_str(), G_FILE_TEST_EXISTS))
    gtk_file_chooser_set_filename(chooser, plan.file_to_select.c_str());
  if (!plan.current_name.empty())
    gtk_file_chooser_set_current_name(chooser, plan.current_name.c_str());
  return dialog;
}

GtkWindow* WindowOf(CefBrowserHost* host) {
  GtkWidget* anchor = static_cast<GtkWidget*>(host->GetWindowHandle());
  GtkWidget* top = anchor ? gtk_widget_get_toplevel(anchor) : nullptr;
  return top && gtk_widget_is_toplevel(top) && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

}  // namespace

void CefBrowserHost::RunFileDialog(FileDialogMode mode, const CefString& title,
                                   const CefString& default_file_name,
                                   const std::vector<CefString>& accept_types,
                                   CefRefPtr<CefRunFileDialogCallback> callback) {
  CefRefPtr<CefBrowserHost> self = this;
  if (!CefCurrentlyOn(TID_UI)) {
    CefPostTask(TID_UI, [self, mode, title, default_file_name, accept_types, callback]() {
      self->RunFileDialog(mode, title, default_file_name, accept_types, callback);
    });
    return;
  }
  GtkWindow* parent = WindowOf(this);
  if (!parent) {
    if (callback) callback->OnFileDialogDismissed(self, {});
    return;
  }
  GtkWidget* dialog =
      NewDialog(cef_internal::PlanFileDialog(mode, title, default_file_name, accept_types), parent);
  g_signal_connect_data(dialog, "response", G_CALLBACK(OnResponse),
                        new PendingDialog{self, callback}, OnConnectionEnded, GConnectFlags(0));
  gtk_window_present(GTK_WINDOW(dialog));
}
