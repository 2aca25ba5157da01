// The main window's own frame: the window is undecorated and paints its caption strip, edges,
// outline and caption buttons from the skin's image files, and does the caption's mouse work
// (moving, double-click zoom, the buttons, the system menu) itself.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// Images by file name, relative to the skin folder, loaded once per process. A file that cannot
// be read gives no image, which is drawn as nothing.
class SkinImageCache {
 public:
  static SkinImageCache& Instance();
  void SetSkinPath(const std::string& folder);
  GdkPixbuf* GetImage(const std::string& name);

 private:
  SkinImageCache() = default;
  std::string folder_;
  std::map<std::string, GdkPixbuf*> images_;
};

// Shows the pop-up |menu| attached to |owner|; the menu is destroyed after it has closed.
void ShowTransientMenu(GtkWidget* menu, GtkWidget* owner);
// Draws picture |index| of |count| pictures standing side by side in |image|, stretched into
// the rectangle. Nothing without an image.
void DrawImageSlice(cairo_t* cr, GdkPixbuf* image, int index, int count, double x, double y,
                    double width, double height);

// A caption button: its state image holds the pictures normal, hover, pressed (and disabled)
// side by side.
struct DuiButton {
  void init(GdkRectangle rect, GdkPixbuf* image, int stateCount, int id);
  void setRect(GdkRectangle rect);
  void draw(cairo_t* cr) const;
  bool contains(double x, double y) const;
  bool visible() const { return rect.x >= 0; }

  GdkRectangle rect{-1, -1, 0, 0};
  bool hover = false;
  bool pressed = false;
  bool disabled = false;
  GdkPixbuf* image = nullptr;
  int stateCount = 1;
  int id = 0;
};

class CSkinWnd {
 public:
  enum ButtonId { kClose = 110, kMaximize = 111, kMinimize = 112, kRestore = 113 };
  static constexpr int kCaptionHeight = 32;
  static constexpr int kBorderWidth = 3;

  // Loads the frame's images from the cache.
  CSkinWnd();
  CSkinWnd(const CSkinWnd&) = delete;
  CSkinWnd& operator=(const CSkinWnd&) = delete;
  ~CSkinWnd();

  // Takes over the frame of |window|, whose one child becomes the client area. |onClose| is
  // what the close button and the system menu's close item ask for.
  bool Attach(GtkWindow* window, bool maximizeBox, bool minimizeBox, bool systemMenu,
              std::function<void()> onClose);
  void Detach();

  // For tests: the button by id, and the hit code at a point of the window.
  const DuiButton* Button(int id) const;
  enum class Hit { kNowhere, kClose, kMaximize, kMinimize, kRestore, kSystemMenu, kCaption, kEdge };
  Hit HitTest(double x, double y) const;

 private:
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, CSkinWnd* self);
  static void OnSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, CSkinWnd* self);
  static gboolean OnWindowState(GtkWidget* widget, GdkEventWindowState* event, CSkinWnd* self);
  static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, CSkinWnd* self);
  static gboolean OnLeave(GtkWidget* widget, GdkEventCrossing* event, CSkinWnd* self);
  static gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, CSkinWnd* self);
  static gboolean OnButtonRelease(GtkWidget* widget, GdkEventButton* event, CSkinWnd* self);

  void PaintFrame(cairo_t* cr);
  void PlaceButtons(int width);
  void SetHover(int id);
  void Redraw(const DuiButton& button);
  void ToggleZoom();
  void ShowSystemMenu(GdkEventButton* event);
  bool IsZoomed() const;
  bool OwnEvent(GdkWindow* window) const;
  int ButtonAt(double x, double y) const;

  GdkPixbuf* caption_ = nullptr;
  GdkPixbuf* logo_ = nullptr;
  GdkPixbuf* edge_ = nullptr;
  GdkPixbuf* buttonImages_[4] = {};  // minimise, maximise, close, restore

  GtkWindow* window_ = nullptr;
  std::map<int, DuiButton> buttons_;
  int hoverId_ = -1;
  bool maximizeBox_ = false, minimizeBox_ = false, systemMenu_ = false;
  GdkRectangle systemMenuRect_{15, 13, 16, 16};
  std::function<void()> onClose_;
  std::vector<gulong> handlers_;
};
