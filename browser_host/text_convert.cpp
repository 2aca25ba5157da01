#include "browser_host/text_convert.h"

#include "platform/base/executable_folder.h"
#include "platform/cef/cef_string.h"

std::wstring StringToWString(const std::string& text, unsigned) { return CefUtf8ToWide(text); }

std::string WStringToString(const std::wstring& text, unsigned) { return CefWideToUtf8(text); }

std::string GetModuleFolder() { return ExecutableFolder(); }
