// The page's dialog requests mapped onto the dialogs they open, and their answers, without a
// display: a browser of the test records what the client handler asks of its host.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>

#include "browser_host/client_handler.h"
#include "browser_host/file_dialog.h"
#include "platform/cef/cef_file_dialog_plan.h"
#include "platform/cef/cef_path.h"

using cef_internal::FileDialogFilter;
using cef_internal::FileDialogPlan;
using cef_internal::PlanFileDialog;

namespace {

class RecordingBrowser : public CefBrowser,
                         public CefBrowserHost,
                         public CefRefCounted<RecordingBrowser> {
 public:
  struct Run {
    FileDialogMode mode;
    std::string title, default_file_name;
    std::vector<CefString> accept_types;
    CefRefPtr<CefRunFileDialogCallback> callback;
  };
  std::vector<Run> runs;
  std::vector<CefRefPtr<CefProcessMessage>> sent;

  CefRefPtr<CefBrowserHost> GetHost() override { return this; }
  int GetIdentifier() override { return 1; }
  bool IsSame(CefRefPtr<CefBrowser> that) override { return that.get() == this; }
  CefRefPtr<CefFrame> GetMainFrame() override { return nullptr; }
  void GoBack() override {}
  void GoForward() override {}
  void Reload() override {}
  void StopLoad() override {}
  bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) override {
    EXPECT_EQ(target, PID_RENDERER);
    sent.push_back(message);
    return true;
  }
  CefRefPtr<CefBrowser> GetBrowser() override { return this; }
  void CloseBrowser(bool) override {}
  CefWindowHandle GetWindowHandle() override { return nullptr; }
  void ShowDevTools(const CefWindowInfo&, CefRefPtr<CefClient>,
                    const CefBrowserSettings&) override {}
  void RunFileDialog(FileDialogMode mode, const CefString& title,
                     const CefString& default_file_name, const std::vector<CefString>& accept_types,
                     CefRefPtr<CefRunFileDialogCallback> callback) override {
    runs.push_back({mode, title.ToString(), default_file_name.ToString(), accept_types, callback});
  }
};

std::string NameOf(const std::string& funcName, int funcId = 5) {
  return "{\"browserID\":1,\"frameID\":2,\"funcID\":" + std::to_string(funcId) +
         ",\"funcName\":\"" + funcName + "\"}\n";
}

CefRefPtr<CefProcessMessage> Message(const std::string& name,
                                     const std::vector<std::string>& args) {
  CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(name);
  for (size_t i = 0; i < args.size(); ++i) m->GetArgumentList()->SetString(i, args[i]);
  return m;
}

// What the client handler makes of one page message: the dialog its host is asked for.
struct Outcome {
  bool handled = false;
  std::vector<RecordingBrowser::Run> runs;
};
Outcome Offer(CefRefPtr<CefProcessMessage> message) {
  CefRefPtr<ClientHandler> handler = new ClientHandler();
  CefRefPtr<RecordingBrowser> browser = new RecordingBrowser();
  Outcome out;
  out.handled = handler->OnProcessMessageReceived(browser.get(), PID_RENDERER, message);
  out.runs = browser->runs;
  return out;
}

FileDialogPlan PlanOf(const RecordingBrowser::Run& run) {
  return PlanFileDialog(run.mode, run.title, run.default_file_name, run.accept_types);
}

std::vector<std::string> Texts(const std::vector<CefString>& list) {
  std::vector<std::string> out;
  for (const CefString& s : list) out.push_back(s.ToString());
  return out;
}

bool Matches(const FileDialogFilter& f, const char* name, const char* mime) {
  GtkFileFilter* filter = gtk_file_filter_new();
  g_object_ref_sink(filter);
  for (const std::string& m : f.mime_types) gtk_file_filter_add_mime_type(filter, m.c_str());
  for (const std::string& p : f.patterns) gtk_file_filter_add_pattern(filter, p.c_str());
  GtkFileFilterInfo info{};
  info.contains =
      static_cast<GtkFileFilterFlags>(GTK_FILE_FILTER_DISPLAY_NAME | GTK_FILE_FILTER_MIME_TYPE);
  info.display_name = name;
  info.mime_type = mime;
  bool ok = gtk_file_filter_filter(filter, &info);
  g_object_unref(filter);
  return ok;
}

std::string ExeFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.rfind('/'));
}

std::string CurrentDir() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? buf : "";
}

}  // namespace

TEST(DialogRequest, OpenOffersTheGivenFileWithoutFilters) {
  Outcome o = Offer(Message(NameOf("dialog.fileopen"), {"/data/exam/a.txt"}));
  ASSERT_TRUE(o.handled);
  ASSERT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(o.runs[0].mode, FILE_DIALOG_OPEN);
  EXPECT_EQ(o.runs[0].title, "Open");
  EXPECT_EQ(o.runs[0].default_file_name, "/data/exam/a.txt");
  EXPECT_TRUE(o.runs[0].accept_types.empty());
  FileDialogPlan p = PlanOf(o.runs[0]);
  EXPECT_FALSE(p.save);
  EXPECT_FALSE(p.select_multiple);
  EXPECT_EQ(p.title, "Open");
  EXPECT_EQ(p.accept_label, "_Open");
  EXPECT_EQ(p.folder, "/data/exam");
  EXPECT_EQ(p.file_to_select, "/data/exam/a.txt");
  EXPECT_EQ(p.current_name, "");
  EXPECT_TRUE(p.filters.empty());
}

TEST(DialogRequest, MultiOpenIgnoresTheNameAndFiltersTheAcceptedTypes) {
  Outcome o = Offer(
      Message(NameOf("dialog.multifileopen"), {"/data/ignored.txt", "image/png", "image/gif"}));
  ASSERT_TRUE(o.handled);
  ASSERT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(o.runs[0].mode, FILE_DIALOG_OPEN_MULTIPLE);
  EXPECT_EQ(o.runs[0].title, "Open");
  EXPECT_EQ(o.runs[0].default_file_name, "");
  EXPECT_EQ(Texts(o.runs[0].accept_types), (std::vector<std::string>{"image/png", "image/gif"}));
  FileDialogPlan p = PlanOf(o.runs[0]);
  EXPECT_FALSE(p.save);
  EXPECT_TRUE(p.select_multiple);
  EXPECT_EQ(p.folder, "");
  EXPECT_EQ(p.file_to_select, "");
  ASSERT_EQ(p.filters.size(), 2u);
  EXPECT_EQ(p.filters[0].name, "image/png, image/gif");
  EXPECT_EQ(p.filters[0].mime_types, (std::vector<std::string>{"image/png", "image/gif"}));
  EXPECT_TRUE(p.filters[0].patterns.empty());
  EXPECT_TRUE(Matches(p.filters[0], "x.png", "image/png"));
  EXPECT_TRUE(Matches(p.filters[0], "x.gif", "image/gif"));
  EXPECT_FALSE(Matches(p.filters[0], "x.jpg", "image/jpeg"));
  EXPECT_EQ(p.filters[1].name, "All files");
  EXPECT_TRUE(Matches(p.filters[1], "x.exe", "application/x-msdownload"));
}

TEST(DialogRequest, SaveOffersTheNameInItsFolderAndMapsExtensionsToCaselessPatterns) {
  Outcome o = Offer(Message(NameOf("dialog.filesave"),
                            {"/home/u/answer.txt", ".png", "png", " Image/JPEG ", "", "."}));
  ASSERT_TRUE(o.handled);
  ASSERT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(o.runs[0].mode, FILE_DIALOG_SAVE);
  EXPECT_EQ(o.runs[0].title, "Save");
  EXPECT_EQ(o.runs[0].default_file_name, "/home/u/answer.txt");
  EXPECT_EQ(o.runs[0].accept_types.size(), 5u);
  FileDialogPlan p = PlanOf(o.runs[0]);
  EXPECT_TRUE(p.save);
  EXPECT_FALSE(p.select_multiple);
  EXPECT_EQ(p.accept_label, "_Save");
  EXPECT_EQ(p.folder, "/home/u");
  EXPECT_EQ(p.current_name, "answer.txt");
  EXPECT_EQ(p.file_to_select, "");
  ASSERT_EQ(p.filters.size(), 2u);
  EXPECT_EQ(p.filters[0].name, ".png, png, Image/JPEG");
  EXPECT_EQ(p.filters[0].mime_types, std::vector<std::string>{"image/jpeg"});
  EXPECT_EQ(p.filters[0].patterns, (std::vector<std::string>{"*.[pP][nN][gG]", "*.[pP][nN][gG]"}));
  EXPECT_TRUE(Matches(p.filters[0], "photo.PNG", "image/png"));
  EXPECT_TRUE(Matches(p.filters[0], "photo.Png", ""));
  EXPECT_TRUE(Matches(p.filters[0], "photo.jpeg", "image/jpeg"));
  EXPECT_FALSE(Matches(p.filters[0], "photo.png.txt", "text/plain"));
  EXPECT_FALSE(Matches(p.filters[0], "png", "text/plain"));
}

TEST(DialogRequest, EntriesAreReadAsTextWhateverTheirType) {
  CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(NameOf("dialog.fileopen"));
  m->GetArgumentList()->SetInt(0, 5);
  m->GetArgumentList()->SetBool(1, true);
  m->GetArgumentList()->SetString(2, "text/plain");
  Outcome o = Offer(m);
  ASSERT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(o.runs[0].default_file_name, "");
  EXPECT_EQ(Texts(o.runs[0].accept_types), (std::vector<std::string>{"", "text/plain"}));
  FileDialogPlan p = PlanOf(o.runs[0]);
  ASSERT_EQ(p.filters.size(), 2u);
  EXPECT_EQ(p.filters[0].name, "text/plain");
}

TEST(DialogRequest, AnythingButTheThreeExactNamesWithArgumentsOpensNothing) {
  struct Case {
    std::string name;
    std::vector<std::string> args;
  } cases[] = {
      {NameOf("dialog.fileopen2"), {"x"}},
      {NameOf("xdialog.fileopen"), {"x"}},
      {NameOf("dialog.fileopen "), {"x"}},
      {NameOf("dialog.filesave"), {}},
      {NameOf("dialog.fileopen", 0), {"x"}},
      {NameOf(""), {"x"}},
      {"dialog.fileopen", {"x"}},
      {"{\"funcID\":\"5\",\"funcName\":\"dialog.fileopen\"}", {"x"}},
      {NameOf("dialog.open"), {"x"}},
  };
  for (const Case& c : cases) {
    Outcome o = Offer(Message(c.name, c.args));
    EXPECT_FALSE(o.handled) << c.name;
    EXPECT_TRUE(o.runs.empty()) << c.name;
  }
}

TEST(DialogPlan, FoldersAndNamesOfTheDefault) {
  std::vector<CefString> none;
  FileDialogPlan p = PlanFileDialog(FILE_DIALOG_SAVE, "Save", "sub/a.txt", none);
  EXPECT_EQ(p.folder, "");
  EXPECT_EQ(p.current_name, "a.txt");
  p = PlanFileDialog(FILE_DIALOG_SAVE, "Save", "/tmp/", none);
  EXPECT_EQ(p.folder, "/tmp");
  EXPECT_EQ(p.current_name, "");
  p = PlanFileDialog(FILE_DIALOG_OPEN, "Open", "/a.txt", none);
  EXPECT_EQ(p.folder, "/");
  EXPECT_EQ(p.file_to_select, "/a.txt");
  p = PlanFileDialog(FILE_DIALOG_OPEN, "Open", "a.txt", none);
  EXPECT_EQ(p.folder, "");
  EXPECT_EQ(p.file_to_select, "");
  p = PlanFileDialog(FILE_DIALOG_OPEN, "Open", "", {CefString(""), CefString(" ")});
  EXPECT_TRUE(p.filters.empty());
}

TEST(DialogPlan, GlobCharactersOfAnExtensionMatchOnlyThemselves) {
  EXPECT_EQ(cef_internal::CaselessExtensionPattern("c++"), "*.[cC]++");
  EXPECT_EQ(cef_internal::CaselessExtensionPattern("*"), "*.\\*");
  FileDialogFilter star{"", {}, {cef_internal::CaselessExtensionPattern("*")}};
  EXPECT_TRUE(Matches(star, "a.*", ""));
  EXPECT_FALSE(Matches(star, "a.b", ""));
  FileDialogFilter odd{"", {}, {cef_internal::CaselessExtensionPattern("[a]?\\")}};
  EXPECT_TRUE(Matches(odd, "x.[A]?\\", ""));
  EXPECT_FALSE(Matches(odd, "x.ab\\", ""));
}

TEST(DialogAnswer, GoesUnderTheRequestNameAsAListAndReturnsToTheProgramFolder) {
  CefRefPtr<RecordingBrowser> browser = new RecordingBrowser();
  CefRefPtr<file_dialog::RunFileDialogCallback> callback =
      new file_dialog::RunFileDialogCallback(NameOf("dialog.multifileopen"));
  ASSERT_EQ(chdir("/"), 0);
  callback->OnFileDialogDismissed(browser.get(), {CefString("/d/1 a.txt"), CefString("/d/文.txt")});
  EXPECT_EQ(CurrentDir(), ExeFolder());
  ASSERT_EQ(chdir("/"), 0);
  callback->OnFileDialogDismissed(browser.get(), {});
  EXPECT_EQ(CurrentDir(), ExeFolder());

  ASSERT_EQ(browser->sent.size(), 2u);
  for (const auto& m : browser->sent) {
    EXPECT_EQ(m->GetName().ToString(), NameOf("dialog.multifileopen"));
    EXPECT_EQ(m->GetArgumentList()->GetSize(), 1u);
    EXPECT_EQ(m->GetArgumentList()->GetType(0), VTYPE_LIST);
  }
  CefRefPtr<CefListValue> chosen = browser->sent[0]->GetArgumentList()->GetList(0);
  ASSERT_EQ(chosen->GetSize(), 2u);
  EXPECT_EQ(chosen->GetString(0).ToString(), "/d/1 a.txt");
  EXPECT_EQ(chosen->GetString(1).ToString(), "/d/文.txt");
  EXPECT_EQ(browser->sent[1]->GetArgumentList()->GetList(0)->GetSize(), 0u);
}

TEST(DialogAnswer, TheProgramFolderIsTheExecutablesWithoutAFinalSlash) {
  CefString folder;
  ASSERT_TRUE(CefGetPath(PK_DIR_EXE, folder));
  EXPECT_EQ(folder.ToString(), ExeFolder());
}
