// The transport's entries as the client loads them: one process-wide connection to the speech
// engine. Texts are wide; message numbers are the caller's. Each returns 1 on success, 0 on
// failure.
#pragma once

#define MIRVANE_TRANSPORT_API extern "C" __attribute__((visibility("default")))

MIRVANE_TRANSPORT_API int MirvaneSetParam(const wchar_t* name, const wchar_t* value);
MIRVANE_TRANSPORT_API int MirvaneOpen(const wchar_t* endpoint, int flag);
MIRVANE_TRANSPORT_API int MirvaneSend(int number, const wchar_t* text);
// Ends the connection and the thread that delivers incoming messages.
MIRVANE_TRANSPORT_API void MirvaneClose();
