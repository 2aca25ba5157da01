// The page's file dialogs in the real browser: the page asks, the real GTK dialog opens on the
// client's window, the test works it as a user would, and the page hears the paths.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <sstream>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

// ask(name, args, tag): one dialog request whose answer the page reports with its tag.
const char kAsk[] =
    "function ask(name,args,tag,then){cef.message.sendMessage(name,args);"
    "cef.message.setMessageCallback(name,function(n,a){report({tag:tag,name:n,args:a});"
    "if(then)then();});}";

std::string Page(const std::string& name, const std::string& script) {
  return "file://" + E2E::WriteFile(name, std::string("<html><body>") + kPageHelpers + "<script>" +
                                              kAsk + script + "</script></body></html>");
}

// A JavaScript string literal of |text|.
std::string Js(const std::string& text) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  return Json::writeString(b, Json::Value(text));
}

std::vector<Json::Value> Reports() {
  std::vector<Json::Value> out;
  for (const auto& r : E2E::RecordsOf("report")) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errors;
    std::istringstream in(r.params);
    Json::parseFromStream(b, in, &v, &errors);
    out.push_back(v);
  }
  return out;
}

std::vector<std::string> PathsOf(const Json::Value& report) {
  std::vector<std::string> out;
  EXPECT_EQ(report["args"].size(), 1u);
  for (const auto& p : report["args"][0]) out.push_back(p.asString());
  return out;
}

GtkWidget* OpenDialog() {
  GtkWidget* found = nullptr;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found = GTK_WIDGET(l->data);
  g_list_free(all);
  return found;
}

GtkWidget* WaitForDialog() {
  E2E::PumpUntil([] { return OpenDialog() != nullptr; });
  return OpenDialog();
}

std::vector<std::string> Selected(GtkWidget* dialog) {
  std::vector<std::string> out;
  GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
  for (GSList* f = files; f; f = f->next) out.push_back(static_cast<char*>(f->data));
  g_slist_free_full(files, g_free);
  return out;
}

// Selects |path| as a click in the list would, once the folder has been read.
void Choose(GtkWidget* dialog, const std::string& path) {
  gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(dialog), path.c_str());
  EXPECT_TRUE(E2E::PumpUntil([&] { return Selected(dialog) == std::vector<std::string>{path}; }));
}

void FindFileList(GtkWidget* widget, gpointer found) {
  if (GTK_IS_TREE_VIEW(widget) && gtk_widget_get_mapped(widget))
    *static_cast<GtkWidget**>(found) = widget;
  if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), FindFileList, found);
}

// Selects every file the list of |folder| shows, as Ctrl+A in it does.
void ChooseAllListed(GtkWidget* dialog, const std::string& folder, size_t expected) {
  GtkWidget* list = nullptr;
  FindFileList(dialog, &list);
  ASSERT_NE(list, nullptr);
  GtkTreeView* view = GTK_TREE_VIEW(list);
  // The chooser may first show the recently used files; wait for the folder's own list.
  EXPECT_TRUE(E2E::PumpUntil([&] {
    gchar* current = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
    bool there = current && folder == std::string(current) + "/";
    g_free(current);
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    return there && model &&
           static_cast<size_t>(gtk_tree_model_iter_n_children(model, nullptr)) == expected;
  }));
  gtk_tree_selection_select_all(gtk_tree_view_get_selection(view));
}

void Press(GtkWidget* dialog, int response) {
  gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response)));
}

std::string Folder(const std::string& name) {
  std::string dir = E2E::TempDir() + name;
  g_mkdir_with_parents(dir.c_str(), 0700);
  return dir;
}

std::string CurrentDir() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) + "/" : "";
}

std::vector<std::string> FilterNames(GtkWidget* dialog) {
  std::vector<std::string> out;
  GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(dialog));
  for (GSList* f = filters; f; f = f->next)
    out.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
  g_slist_free(filters);
  return out;
}

bool Passes(GtkFileFilter* filter, const char* name, const char* mime) {
  GtkFileFilterInfo info{};
  info.contains =
      static_cast<GtkFileFilterFlags>(GTK_FILE_FILTER_DISPLAY_NAME | GTK_FILE_FILTER_MIME_TYPE);
  info.display_name = name;
  info.mime_type = mime;
  return gtk_file_filter_filter(filter, &info);
}

}  // namespace

TEST(PageFileDialog, OpenOffersTheGivenFileAndAnswersTheOneChosen) {
  std::string dir = Folder("open/");
  E2E::WriteFile("open/a.txt", "a");
  E2E::WriteFile("open/b.txt", "b");
  std::string url = Page("open.html", "ask('dialog.fileopen',[" + Js(dir + "b.txt") + "],'one');");
  E2E::Run(url, [&] {
    ASSERT_EQ(chdir("/"), 0);
    GtkWidget* dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Open");
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_FALSE(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(dialog)));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(E2E::window()));
    EXPECT_TRUE(FilterNames(dialog).empty());
    // The page's file is offered first.
    EXPECT_TRUE(E2E::PumpUntil(
        [&] { return Selected(dialog) == std::vector<std::string>{dir + "b.txt"}; }));
    Choose(dialog, dir + "a.txt");
    Press(dialog, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(E2E::WaitForRecord("report"));
    EXPECT_EQ(OpenDialog(), nullptr);
    Json::Value r = Reports()[0];
    EXPECT_EQ(r["tag"].asString(), "one");
    EXPECT_NE(r["name"].asString().find("\"funcName\":\"dialog.fileopen\""), std::string::npos);
    EXPECT_EQ(PathsOf(r), std::vector<std::string>{dir + "a.txt"});
    EXPECT_EQ(CurrentDir(), E2E::ModuleFolder());
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageFileDialog, MultiOpenFiltersTheAcceptedTypesAndAnswersEveryChosenFileInOrder) {
  std::string dir = Folder("multi/");
  for (const char* f : {"1.txt", "2.DAT", "3.txt"})
    E2E::WriteFile(std::string("multi/") + f, "text\n");
  E2E::WriteFile("multi/4.bin", std::string("\x00\x01\x02\xff\xfe", 5));
  std::string url = Page("multi.html", "ask('dialog.multifileopen',[" + Js(dir + "4.bin") +
                                           ",'text/plain','.dat'],'many');");
  E2E::Run(url, [&] {
    ASSERT_EQ(chdir("/"), 0);
    GtkWidget* dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Open");
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
    EXPECT_EQ(FilterNames(dialog), (std::vector<std::string>{"text/plain, .dat", "All files"}));
    GtkFileFilter* inForce = gtk_file_chooser_get_filter(chooser);
    ASSERT_NE(inForce, nullptr);
    EXPECT_STREQ(gtk_file_filter_get_name(inForce), "text/plain, .dat");
    EXPECT_TRUE(Passes(inForce, "notes", "text/plain"));
    EXPECT_TRUE(Passes(inForce, "2.DAT", "application/octet-stream"));
    EXPECT_FALSE(Passes(inForce, "4.bin", "application/octet-stream"));
    // No file is offered: the page's name is not used here.
    EXPECT_TRUE(Selected(dialog).empty());
    // The folder also holds 4.bin, which the filter in force leaves out of the list.
    gtk_file_chooser_set_current_folder(chooser, dir.c_str());
    ChooseAllListed(dialog, dir, 3);
    std::vector<std::string> chosen = Selected(dialog);
    std::vector<std::string> sorted = chosen;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{dir + "1.txt", dir + "2.DAT", dir + "3.txt"}));
    Press(dialog, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(E2E::WaitForRecord("report"));
    Json::Value r = Reports()[0];
    EXPECT_EQ(r["tag"].asString(), "many");
    // In the order the dialog gives them (the order of its list).
    EXPECT_EQ(PathsOf(r), chosen);
    EXPECT_EQ(CurrentDir(), E2E::ModuleFolder());
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageFileDialog, SaveOffersTheNameInItsFolderAndAnswersTheNameGiven) {
  std::string dir = Folder("save/");
  std::string url =
      Page("save.html", "ask('dialog.filesave',[" + Js(dir + "proposed.txt") + "],'save');");
  E2E::Run(url, [&] {
    ASSERT_EQ(chdir("/"), 0);
    GtkWidget* dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Save");
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_TRUE(gtk_file_chooser_get_do_overwrite_confirmation(chooser));
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    EXPECT_STREQ(name, "proposed.txt");
    g_free(name);
    EXPECT_TRUE(E2E::PumpUntil([&] {
      gchar* folder = gtk_file_chooser_get_current_folder(chooser);
      bool there = folder && dir == std::string(folder) + "/";
      g_free(folder);
      return there;
    }));
    gtk_file_chooser_set_current_name(chooser, "answer 1.txt");
    Press(dialog, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(E2E::WaitForRecord("report"));
    EXPECT_EQ(PathsOf(Reports()[0]), std::vector<std::string>{dir + "answer 1.txt"});
    EXPECT_EQ(CurrentDir(), E2E::ModuleFolder());
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageFileDialog, CancelButtonEscapeAndClosingAnswerAnEmptyList) {
  std::string url = Page("cancel.html",
                         "ask('dialog.fileopen',[''],'button',function(){"
                         "ask('dialog.filesave',['x.txt'],'escape',function(){"
                         "ask('dialog.multifileopen',[''],'close');});});");
  E2E::Run(url, [&] {
    ASSERT_EQ(chdir("/"), 0);
    GtkWidget* dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    Press(dialog, GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));

    dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Save");
    E2E::Pump(300);  // mapped and focused before the key
    E2E::RunCommand("xdotool search --name '^Save$' windowfocus --sync key Escape");
    ASSERT_TRUE(E2E::WaitForRecord("report", 2));

    dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    gtk_window_close(GTK_WINDOW(dialog));  // as the window's close button does
    ASSERT_TRUE(E2E::WaitForRecord("report", 3));

    auto reports = Reports();
    std::vector<std::string> tags, funcNames;
    for (const auto& r : reports) {
      tags.push_back(r["tag"].asString());
      EXPECT_EQ(r["args"].size(), 1u);
      EXPECT_TRUE(r["args"][0].isArray());
      EXPECT_EQ(r["args"][0].size(), 0u);
    }
    EXPECT_EQ(tags, (std::vector<std::string>{"button", "escape", "close"}));
    EXPECT_EQ(OpenDialog(), nullptr);
    EXPECT_EQ(CurrentDir(), E2E::ModuleFolder());
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageFileDialog, OtherNamesAndEmptyArraysOpenNothingAndGetNoReply) {
  std::string url = Page("refused.html",
                         "ask('dialog.fileopen2',['x'],'longer');"
                         "ask('dialog.filesave',[],'empty');"
                         "ask('dialog.multifileopen',[],'emptyMulti');"
                         "ask(' dialog.fileopen',['x'],'spaced');"
                         "setTimeout(function(){report({tag:'done'});},600);");
  E2E::Run(url, [&] {
    bool opened = false;
    E2E::PumpUntil([&] {
      opened = opened || OpenDialog() != nullptr;
      return !E2E::RecordsOf("report").empty();
    });
    E2E::Pump(300);
    EXPECT_FALSE(opened);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["tag"].asString(), "done");
    // Nor did any of them reach the page commands.
    EXPECT_EQ(E2E::Records().size(), 1u);
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageFileDialog, ADialogLeftOpenGoesWithTheWindowAndAnswersNobody) {
  std::string url = Page("left.html", "ask('dialog.fileopen',[''],'left');");
  E2E::Run(url, [&] {
    ASSERT_NE(WaitForDialog(), nullptr);
    KVBCloseCEFMainBrowser();
  });
  EXPECT_EQ(OpenDialog(), nullptr);
  E2E::Pump(200);
  EXPECT_TRUE(E2E::RecordsOf("report").empty());
}
