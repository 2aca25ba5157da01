#include "shell/message_box.h"

bool ShowMessageBox(GtkWindow* owner, const std::string& text, const std::string& title,
                    bool withCancel) {
  GtkWidget* box = gtk_message_dialog_new(owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          withCancel ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
                                          GTK_BUTTONS_NONE, "%s", text.c_str());
  if (withCancel) gtk_dialog_add_button(GTK_DIALOG(box), "取消", GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(box), "确定", GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  gtk_window_set_position(GTK_WINDOW(box),
                          owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  gint response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  return response == GTK_RESPONSE_OK;
}
