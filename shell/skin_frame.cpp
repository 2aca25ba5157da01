#include "shell/skin_frame.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kOutlineGrey = 0xA3 / 255.0;

}  // namespace

SkinImageCache& SkinImageCache::Instance() {
  static SkinImageCache* cache = new SkinImageCache();  // lives until the process ends
  return *cache;
}

void SkinImageCache::SetSkinPath(const std::string& folder) { folder_ = folder; }

GdkPixbuf* SkinImageCache::GetImage(const std::string& name) {
  auto found = images_.find(name);
  if (found != images_.end()) return found->second;
  GdkPixbuf* image = gdk_pixbuf_new_from_file((folder_ + name).c_str(), nullptr);
  images_.emplace(name, image);
  return image;
}

void DrawImageSlice(cairo_t* cr, GdkPixbuf* image, int index, int count, double x, double y,
                    double width, double height) {
  if (!image || count <= 0 || width <= 0 || height <= 0) return;
  int slice = gdk_pixbuf_get_width(image) / count;
  int image_height = gdk_pixbuf_get_height(image);
  if (slice <= 0 || image_height <= 0 || index < 0 || index >= count) return;
  // The picture alone, its edge pixels repeated outward, so stretching blends in nothing else.
  GdkPixbuf* picture = gdk_pixbuf_new_subpixbuf(image, index * slice, 0, slice, image_height);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, width, height);
  cairo_clip(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, width / slice, height / image_height);
  gdk_cairo_set_source_pixbuf(cr, picture, 0, 0);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  g_object_unref(picture);
}

void DuiButton::init(GdkRectangle r, GdkPixbuf* img, int count, int buttonId) {
  rect = r;
  image = img;
  stateCount = count;
  id = buttonId;
}

void DuiButton::setRect(GdkRectangle r) { rect = r; }

void DuiButton::draw(cairo_t* cr) const {
  int index = 0;
  if (disabled && stateCount >= 4)
    index = 3;
  else if (pressed && stateCount >= 3)
    index = 2;
  else if (hover && stateCount >= 2)
    index = 1;
  DrawImageSlice(cr, image, index, stateCount, rect.x, rect.y, rect.width, rect.height);
}

bool DuiButton::contains(double x, double y) const {
  return visible() && x >= rect.x && y >= rect.y && x < rect.x + rect.width &&
         y < rect.y + rect.height;
}

CSkinWnd::CSkinWnd() {
  SkinImageCache& cache = SkinImageCache::Instance();
  caption_ = cache.GetImage("dialog/head_line.png");
  logo_ = cache.GetImage("dialog/logo.bmp");
  edge_ = cache.GetImage("dialog/block.bmp");
  buttonImages_[0] = cache.GetImage("dialog/dlg_minimize_button.bmp");
  buttonImages_[1] = cache.GetImage("dialog/dlg_maxmize_button.bmp");
  buttonImages_[2] = cache.GetImage("dialog/dlg_close_btn.bmp");
  buttonImages_[3] = cache.GetImage("dialog/dlg_restore_button.bmp");
}

CSkinWnd::~CSkinWnd() { Detach(); }

bool CSkinWnd::Attach(GtkWindow* window, bool maximizeBox, bool minimizeBox, bool systemMenu,
                      std::function<void()> onClose) {
  if (!window || window_) return false;
  window_ = window;
  onClose_ = std::move(onClose);
  maximizeBox_ = maximizeBox;
  minimizeBox_ = minimizeBox;
  systemMenu_ = systemMenu;

  GdkRectangle hidden{-1, -1, 0, 0};
  buttons_[kClose].init(hidden, buttonImages_[2], 3, kClose);
  buttons_[kClose].disabled = !systemMenu;
  if (maximizeBox || minimizeBox) {
    buttons_[kMaximize].init(hidden, buttonImages_[1], 3, kMaximize);
    buttons_[kMaximize].disabled = !maximizeBox;
    buttons_[kRestore].init(hidden, buttonImages_[3], 3, kRestore);
    buttons_[kRestore].disabled = !maximizeBox;
    buttons_[kMinimize].init(hidden, buttonImages_[0], 3, kMinimize);
    buttons_[kMinimize].disabled = !minimizeBox;
  }

  GtkWidget* widget = GTK_WIDGET(window);
  gtk_window_set_decorated(window, FALSE);
  if (GtkWidget* client = gtk_bin_get_child(GTK_BIN(window))) {
    gtk_widget_set_margin_top(client, kCaptionHeight);
    gtk_widget_set_margin_start(client, kBorderWidth);
    gtk_widget_set_margin_end(client, kBorderWidth);
    gtk_widget_set_margin_bottom(client, kBorderWidth);
  }
  gtk_widget_add_events(widget, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                    GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK);
  handlers_ = {
      g_signal_connect_after(widget, "draw", G_CALLBACK(OnDraw), this),
      g_signal_connect_after(widget, "size-allocate", G_CALLBACK(OnSizeAllocate), this),
      g_signal_connect(widget, "window-state-event", G_CALLBACK(OnWindowState), this),
      g_signal_connect(widget, "motion-notify-event", G_CALLBACK(OnMotion), this),
      g_signal_connect(widget, "leave-notify-event", G_CALLBACK(OnLeave), this),
      g_signal_connect(widget, "button-press-event", G_CALLBACK(OnButtonPress), this),
      g_signal_connect(widget, "button-release-event", G_CALLBACK(OnButtonRelease), this),
  };
  int width = 0, height = 0;
  gtk_window_get_size(window, &width, &height);
  PlaceButtons(width);
  gtk_widget_queue_draw(widget);
  return true;
}

void CSkinWnd::Detach() {
  if (!window_) return;
  for (gulong handler : handlers_) g_signal_handler_disconnect(window_, handler);
  handlers_.clear();
  window_ = nullptr;
}

const DuiButton* CSkinWnd::Button(int id) const {
  auto found = buttons_.find(id);
  return found == buttons_.end() ? nullptr : &found->second;
}

bool CSkinWnd::IsZoomed() const {
  GdkWindow* window = window_ ? gtk_widget_get_window(GTK_WIDGET(window_)) : nullptr;
  return window && (gdk_window_get_state(window) & GDK_WINDOW_STATE_MAXIMIZED);
}

bool CSkinWnd::OwnEvent(GdkWindow* window) const {
  // Events that children did not handle come up with the child's coordinates: not ours.
  return window_ && window == gtk_widget_get_window(GTK_WIDGET(window_));
}

void CSkinWnd::PlaceButtons(int width) {
  if (maximizeBox_ || minimizeBox_) {
    GdkRectangle hidden{-1, -1, 0, 0};
    GdkRectangle middle{width - 69, 1, 28, 19};
    buttons_[kMinimize].setRect({width - 97, 1, 28, 19});
    bool zoomed = IsZoomed();
    buttons_[kRestore].setRect(zoomed ? middle : hidden);
    buttons_[kMaximize].setRect(zoomed ? hidden : middle);
  }
  buttons_[kClose].setRect({width - 41, 1, 36, 19});
}

int CSkinWnd::ButtonAt(double x, double y) const {
  for (const auto& [id, button] : buttons_)
    if (button.contains(x, y)) return id;
  return -1;
}

CSkinWnd::Hit CSkinWnd::HitTest(double x, double y) const {
  switch (ButtonAt(x, y)) {
    case kClose: return Hit::kClose;
    case kMaximize: return Hit::kMaximize;
    case kMinimize: return Hit::kMinimize;
    case kRestore: return Hit::kRestore;
    default: break;
  }
  const GdkRectangle& r = systemMenuRect_;
  if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) return Hit::kSystemMenu;
  if (!window_) return Hit::kNowhere;
  int width = gtk_widget_get_allocated_width(GTK_WIDGET(window_));
  int height = gtk_widget_get_allocated_height(GTK_WIDGET(window_));
  if (!IsZoomed() && (x < kBorderWidth || x >= width - kBorderWidth || y < kBorderWidth ||
                      y >= height - kBorderWidth))
    return Hit::kEdge;
  if (y < kCaptionHeight) return Hit::kCaption;
  return Hit::kNowhere;
}

void CSkinWnd::PaintFrame(cairo_t* cr) {
  if (!window_) return;
  int width = gtk_widget_get_allocated_width(GTK_WIDGET(window_));
  int height = gtk_widget_get_allocated_height(GTK_WIDGET(window_));
  cairo_save(cr);
  if (edge_) {
    // A narrow source tiled along the edges, mirrored for the bottom strip.
    int edge_height = std::max(1, gdk_pixbuf_get_height(edge_));
    cairo_save(cr);
    for (double y = kCaptionHeight; y < height; y += edge_height) {
      DrawImageSlice(cr, edge_, 0, 1, 0, y, kBorderWidth, edge_height);
      DrawImageSlice(cr, edge_, 0, 1, width - kBorderWidth, y, kBorderWidth, edge_height);
    }
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, 0, height);
    cairo_rotate(cr, -M_PI / 2);
    for (double x = 0; x < width; x += edge_height)
      DrawImageSlice(cr, edge_, 0, 1, 0, x, kBorderWidth, edge_height);
    cairo_restore(cr);
  }
  DrawImageSlice(cr, caption_, 0, 1, 1, 1, width - 2, kCaptionHeight - 1);
  if (logo_)
    DrawImageSlice(cr, logo_, 0, 1, systemMenuRect_.x,
                   (kCaptionHeight - gdk_pixbuf_get_height(logo_)) / 2.0,
                   gdk_pixbuf_get_width(logo_), gdk_pixbuf_get_height(logo_));
  for (const auto& entry : buttons_)
    if (entry.second.visible()) entry.second.draw(cr);
  cairo_set_source_rgb(cr, kOutlineGrey, kOutlineGrey, kOutlineGrey);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
  cairo_stroke(cr);
  cairo_restore(cr);
}

gboolean CSkinWnd::OnDraw(GtkWidget*, cairo_t* cr, CSkinWnd* self) {
  self->PaintFrame(cr);
  return FALSE;
}

void CSkinWnd::OnSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, CSkinWnd* self) {
  self->PlaceButtons(allocation->width);
  gtk_widget_queue_draw(widget);
}

gboolean CSkinWnd::OnWindowState(GtkWidget* widget, GdkEventWindowState* event, CSkinWnd* self) {
  if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) {
    self->PlaceButtons(gtk_widget_get_allocated_width(widget));
    gtk_widget_queue_draw(widget);
  }
  return FALSE;
}

void CSkinWnd::Redraw(const DuiButton& button) {
  if (window_ && button.visible())
    gtk_widget_queue_draw_area(GTK_WIDGET(window_), button.rect.x, button.rect.y,
                               button.rect.width, button.rect.height);
}

void CSkinWnd::SetHover(int id) {
  if (id == hoverId_) return;
  auto old_button = buttons_.find(hoverId_);
  if (old_button != buttons_.end()) {
    old_button->second.hover = false;
    Redraw(old_button->second);
  }
  hoverId_ = id;
  auto new_button = buttons_.find(id);
  if (new_button != buttons_.end()) {
    new_button->second.hover = true;
    Redraw(new_button->second);
  }
}

gboolean CSkinWnd::OnMotion(GtkWidget*, GdkEventMotion* event, CSkinWnd* self) {
  self->SetHover(self->OwnEvent(event->window) ? self->ButtonAt(event->x, event->y) : -1);
  return FALSE;
}

gboolean CSkinWnd::OnLeave(GtkWidget*, GdkEventCrossing* event, CSkinWnd* self) {
  if (self->OwnEvent(event->window) && event->detail != GDK_NOTIFY_INFERIOR) self->SetHover(-1);
  return FALSE;
}

void CSkinWnd::ToggleZoom() {
  if (IsZoomed())
    gtk_window_unmaximize(window_);
  else
    gtk_window_maximize(window_);
}

void CSkinWnd::ShowSystemMenu(GdkEventButton* event) {
  GtkWidget* menu = gtk_menu_new();
  auto add = [&](const char* label, bool enabled, GCallback action) {
    GtkWidget* item = gtk_menu_item_new_with_label(label);
    gtk_widget_set_sensitive(item, enabled);
    g_signal_connect_swapped(item, "activate", action, this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  };
  bool zoomed = IsZoomed();
  add("还原", maximizeBox_ && zoomed,
      G_CALLBACK(+[](CSkinWnd* self) { gtk_window_unmaximize(self->window_); }));
  add("最小化", minimizeBox_,
      G_CALLBACK(+[](CSkinWnd* self) { gtk_window_iconify(self->window_); }));
  add("最大化", maximizeBox_ && !zoomed,
      G_CALLBACK(+[](CSkinWnd* self) { gtk_window_maximize(self->window_); }));
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
  add("关闭", systemMenu_, G_CALLBACK(+[](CSkinWnd* self) {
        if (self->onClose_) self->onClose_();
      }));
  ShowTransientMenu(menu, GTK_WIDGET(window_));
  gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent*>(event));
}

gboolean CSkinWnd::OnButtonPress(GtkWidget*, GdkEventButton* event, CSkinWnd* self) {
  if (!self->OwnEvent(event->window) || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  int id = self->ButtonAt(event->x, event->y);
  if (id >= 0) {
    DuiButton& button = self->buttons_[id];
    if (!button.disabled) {
      button.pressed = true;
      self->Redraw(button);
    }
    return TRUE;
  }
  Hit hit = self->HitTest(event->x, event->y);
  if (hit == Hit::kSystemMenu && event->type == GDK_BUTTON_PRESS) {
    self->ShowSystemMenu(event);
    return TRUE;
  }
  if (hit == Hit::kCaption || hit == Hit::kSystemMenu) {
    if (event->type == GDK_2BUTTON_PRESS) {
      if (self->maximizeBox_) self->ToggleZoom();
    } else if (event->type == GDK_BUTTON_PRESS) {
      gtk_window_begin_move_drag(self->window_, event->button, static_cast<int>(event->x_root),
                                 static_cast<int>(event->y_root), event->time);
    }
    return TRUE;
  }
  if (hit == Hit::kEdge && event->type == GDK_BUTTON_PRESS) {
    int width = gtk_widget_get_allocated_width(GTK_WIDGET(self->window_));
    int height = gtk_widget_get_allocated_height(GTK_WIDGET(self->window_));
    bool left = event->x < kBorderWidth, right = event->x >= width - kBorderWidth;
    bool top = event->y < kBorderWidth, bottom = event->y >= height - kBorderWidth;
    GdkWindowEdge edge = top ? (left ? GDK_WINDOW_EDGE_NORTH_WEST
                                     : right ? GDK_WINDOW_EDGE_NORTH_EAST : GDK_WINDOW_EDGE_NORTH)
                         : bottom ? (left ? GDK_WINDOW_EDGE_SOUTH_WEST
                                          : right ? GDK_WINDOW_EDGE_SOUTH_EAST
                                                  : GDK_WINDOW_EDGE_SOUTH)
                                  : (left ? GDK_WINDOW_EDGE_WEST : GDK_WINDOW_EDGE_EAST);
    gtk_window_begin_resize_drag(self->window_, edge, event->button,
                                 static_cast<int>(event->x_root),
                                 static_cast<int>(event->y_root), event->time);
    return TRUE;
  }
  return FALSE;
}

gboolean CSkinWnd::OnButtonRelease(GtkWidget*, GdkEventButton* event, CSkinWnd* self) {
  if (event->button != GDK_BUTTON_PRIMARY) return FALSE;
  int pressed_id = -1;
  for (auto& [id, button] : self->buttons_) {
    if (button.pressed) {
      pressed_id = id;
      button.pressed = false;
      self->Redraw(button);
    }
  }
  if (!self->OwnEvent(event->window) || pressed_id < 0 ||
      self->ButtonAt(event->x, event->y) != pressed_id)
    return FALSE;
  switch (pressed_id) {
    case kClose:
      if (self->onClose_) self->onClose_();
      break;
    case kMaximize:
    case kRestore:
      self->ToggleZoom();
      break;
    case kMinimize:
      gtk_window_iconify(self->window_);
      break;
    default:
      break;
  }
  return TRUE;
}

void ShowTransientMenu(GtkWidget* menu, GtkWidget* owner) {
  gtk_widget_show_all(menu);
  gtk_menu_attach_to_widget(GTK_MENU(menu), owner, nullptr);
  // Destroyed once the activated item has run, not while it is being activated.
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkWidget* m) {
                     g_idle_add([](gpointer m) -> gboolean {
                       gtk_widget_destroy(GTK_WIDGET(m));
                       return G_SOURCE_REMOVE;
                     }, m);
                   }), nullptr);
}
