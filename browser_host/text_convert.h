// Text conversions of the browser host. The program's narrow ("ANSI") texts are UTF-8 here, so
// both code pages convert UTF-8 <-> wide (UTF-32) text.
#pragma once

#include <string>

enum : unsigned { CP_ACP = 0, CP_UTF8 = 65001 };

std::wstring StringToWString(const std::string& text, unsigned codePage);
std::string WStringToString(const std::wstring& text, unsigned codePage);

// The running executable's folder, ending with "/"; empty when it cannot be read.
std::string GetModuleFolder();
