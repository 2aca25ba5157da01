// Local texts for the page: "readfile" returns files of the running application, "getapps" the
// descriptions of the installed applications.
#pragma once

#include <string>

void RegisterFileCommands();

// "[" + every installed application's app.json text, joined by "," + "]", the folders of
// |appsFolder| taken in name order.
std::string collectAppJson(const std::string& appsFolder);
