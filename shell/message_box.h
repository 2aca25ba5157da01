// A modal message box with the system's texts; true when the answer was OK.
#pragma once

#include <gtk/gtk.h>

#include <string>

bool ShowMessageBox(GtkWindow* owner, const std::string& text, const std::string& title,
                    bool withCancel);
