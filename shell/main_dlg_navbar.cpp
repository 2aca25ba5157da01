// The main dialog's navigation bar: the home button, the address bar with its go button, and
// the settings menu.
#include <gtk/gtk.h>

#include <ctime>

#include "browser_host/kvb_api.h"
#include "shell/bitmap_button.h"
#include "shell/main_dlg.h"
#include "shell/message_box.h"

namespace {

constexpr int kBarHeight = 27;
constexpr std::size_t kAddressCapacity = 1024;

// A picture stretched over its widget.
GtkWidget* MakePicture(const char* image, int width) {
  GtkWidget* area = gtk_drawing_area_new();
  gtk_widget_set_size_request(area, width, kBarHeight);
  g_signal_connect(area, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer name) {
                     DrawImageSlice(cr, SkinImageCache::Instance().GetImage(
                                            static_cast<const char*>(name)),
                                    0, 1, 0, 0, gtk_widget_get_allocated_width(w),
                                    gtk_widget_get_allocated_height(w));
                     return FALSE;
                   }),
                   const_cast<char*>(image));
  return area;
}

const char kGoIdle[] = "navbar/go.bmp";
const char kGoEdited[] = "navbar/go_edited.bmp";

}  // namespace

GtkWidget* CMainDlg::BuildNavigationBar() {
  GtkWidget* bar = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(bar), MakePicture("navbar/bar_back.bmp", -1));
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_overlay_add_overlay(GTK_OVERLAY(bar), row);

  GtkWidget* home = BitmapButton::Make("navbar/home.bmp", 3, 0, 1, 2, 30, kBarHeight, "Home",
                                       [this] { OnHome(); });
  gtk_box_pack_start(GTK_BOX(row), home, FALSE, FALSE, 0);
  GtkWidget* decoration = MakePicture("navbar/bar_decor.bmp", 26);
  gtk_widget_set_margin_start(decoration, 1);
  gtk_box_pack_start(GTK_BOX(row), decoration, FALSE, FALSE, 0);

  addressBar_ = gtk_entry_new();
  gtk_entry_set_has_frame(GTK_ENTRY(addressBar_), FALSE);
  gtk_widget_set_margin_top(addressBar_, 1);
  gtk_widget_set_margin_bottom(addressBar_, 1);
  gtk_widget_set_name(addressBar_, "address-bar");
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(
      css,
      "#address-bar { font-family: Arial; font-size: 10pt; background: white; color: black;"
      " min-height: 0; padding: 0 5px; border: 0; border-radius: 0; }",
      -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(addressBar_),
                                 GTK_STYLE_PROVIDER(css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  gtk_box_pack_start(GTK_BOX(row), addressBar_, TRUE, TRUE, 0);
  g_signal_connect_swapped(addressBar_, "changed", G_CALLBACK(+[](CMainDlg* self) {
                             if (self->navigationBar_ && !self->addressEdited_) {
                               self->SetGoImage(true);
                               self->addressEdited_ = true;
                             }
                           }),
                           this);
  g_signal_connect(addressBar_, "focus-out-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, CMainDlg* self) -> gboolean {
                     self->SetGoImage(false);
                     return FALSE;
                   }),
                   this);
  g_signal_connect(addressBar_, "focus-in-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, CMainDlg* self) -> gboolean {
                     if (self->addressEdited_) self->SetGoImage(true);
                     return FALSE;
                   }),
                   this);

  goButton_ = BitmapButton::Make(kGoIdle, 2, 0, 0, 1, 27, kBarHeight, nullptr, [this] { OnGo(); });
  gtk_box_pack_start(GTK_BOX(row), goButton_, FALSE, FALSE, 0);
  menuButton_ = BitmapButton::Make("navbar/menu.bmp", 3, 0, 1, 2, 30, kBarHeight, "Menu",
                                   [this] { ShowSettingsMenu(); });
  gtk_box_pack_start(GTK_BOX(row), menuButton_, FALSE, FALSE, 0);
  return bar;
}

void CMainDlg::SetGoImage(bool edited) {
  if (navigationBar_ && goButton_) BitmapButton::SetImages(goButton_, edited ? kGoEdited : kGoIdle);
}

void CMainDlg::OnGo() {
  if (!addressBar_) return;
  std::string address = gtk_entry_get_text(GTK_ENTRY(addressBar_));
  // As far as a buffer of the address bar's size holds it.
  glong length = g_utf8_strlen(address.c_str(), -1);
  if (length >= static_cast<glong>(kAddressCapacity)) {
    gchar* cut = g_utf8_substring(address.c_str(), 0, kAddressCapacity - 1);
    address = cut;
    g_free(cut);
  }
  Navigate(address);
}

void CMainDlg::OnHome() {
  if (addressBar_) gtk_entry_set_text(GTK_ENTRY(addressBar_), homePage_.c_str());
  Navigate(homePage_);
}

void CMainDlg::ShowSettingsMenu() {
  GtkWidget* menu = gtk_menu_new();
  auto add = [&](const char* label, void (*action)(CMainDlg*)) {
    GtkWidget* item = gtk_menu_item_new_with_label(label);
    g_signal_connect_swapped(item, "activate", G_CALLBACK(action), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  };
  add("JS调试工具", [](CMainDlg*) { KVBShowDevTools(); });
  add("日志", [](CMainDlg* self) {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "log/QNT-%Y%m%d.log", &local);
    gchar* uri = g_filename_to_uri((self->dataDir + name).c_str(), nullptr, nullptr);
    if (uri) g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
    g_free(uri);
  });
  add("item3", [](CMainDlg* self) {
    ShowMessageBox(GTK_WINDOW(self->window_), "item3 clicked", "", false);
  });
  ShowTransientMenu(menu, menuButton_);
  gtk_menu_popup_at_widget(GTK_MENU(menu), menuButton_, GDK_GRAVITY_SOUTH_EAST,
                           GDK_GRAVITY_NORTH_EAST, nullptr);
}
