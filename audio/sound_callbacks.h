// The sound library's notifications turned into calls of the page's functions, and the library
// operations that the sound commands start. The main dialog owns one table for the whole run;
// the library calls back on a thread of its own.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "audio/sound_library.h"

class IMainWindow;

class SoundCallbacks {
 public:
  // A slot's handler: turns one notification (the library's text, the request text of the
  // operation) into a page call.
  using Handler = void (SoundCallbacks::*)(const std::wstring& text, const std::string& request);

  struct Slots {
    Handler onPlayDone = nullptr;
    Handler onCursor = nullptr;
    Handler onWaveform = nullptr;
    Handler onRecordDone = nullptr;
    Handler onEnergy = nullptr;
    SndNotifyProc notifyProc = nullptr;  // read only when registering
    Handler onAudioCheckDone = nullptr;
    Handler onError = nullptr;
  };

  // Page calls go to |window|'s main frame.
  explicit SoundCallbacks(IMainWindow* window);
  ~SoundCallbacks();
  SoundCallbacks(const SoundCallbacks&) = delete;
  SoundCallbacks& operator=(const SoundCallbacks&) = delete;

  // Empties all eight slots.
  void init();
  // Empties every slot but onAudioCheckDone. Once it has returned, no notification handled
  // before it is still making its page call.
  void reset();
  // A new operation's request text and slots, swapped in as one unit: the slots replace all
  // but onAudioCheckDone, which is replaced only when |slots| sets it. A null |request| keeps
  // the current text. The text lives on until another operation replaces it.
  void install(std::shared_ptr<const std::string> request, const Slots& slots);

  // Keeps |proc| in notifyProc and registers it and the notification switches with |library|;
  // from then on the library's notifications reach this table. False without a library.
  bool registerNotify(const SoundFunctions& library, SndNotifyProc proc);
  // Stops the library and waits for its thread; a notification that still arrives reaches
  // nothing.
  void shutdown();
  bool available() const;

  // The library operations of the sound commands. |request| is the command's request text,
  // which the library hands back with every notification. False when the library is missing
  // or did not start the operation.
  bool play(const std::wstring& path, const char* request, int& playValue);
  bool record(const std::wstring& path, int length, const char* request);
  bool audioCheck(const std::wstring& path, const char* request);
  bool stop();

  // One notification, by its number. The library's copy of the request pointer is not used:
  // the operation it names may have been replaced, and the table's own text is the latest.
  void dispatch(int message, const std::wstring& text);

  void OnSoundDone(const std::wstring& text, const std::string& request);
  void OnSoundError(const std::wstring& text, const std::string& request);
  void OnSoundCursor(const std::wstring& text, const std::string& request);
  void OnSoundEnergy(const std::wstring& text, const std::string& request);
  void OnSoundWaveform(const std::wstring& text, const std::string& request);
  void OnAudioCheckResult(const std::wstring& text, const std::string& request);

  Slots slots() const;
  std::shared_ptr<const std::string> request() const;

 private:
  SoundFunctions library() const;
  void EmptySlots();  // all but onAudioCheckDone; under tableLock_
  void CallPage(const std::string& function, const std::string& argument);

  IMainWindow* const window_;
  // Taken whole for every change of the slots and the request text, and held while a
  // notification is handled, so a reset waits for a page call in progress.
  mutable std::mutex tableLock_;
  Slots slots_;
  std::shared_ptr<const std::string> request_;
  SoundFunctions library_;
};

// The procedure registered with the library: hands each notification to the registered table,
// and to nothing once the table has shut down. An exception in a handler ends that notification
// only.
void OnSoundNotify(int message, const wchar_t* text, const char* request);

// The page call of stopplay and stoprecord, on the command's worker: "callback_func" with the
// "callback" value. Throws CmdException("解析json串参数失败") for params that are not a JSON
// object.
void NotifyStopped(IMainWindow* window, const std::string& params);

// The page function's name, "('", the argument as it stands, "')", without line feeds.
std::string PageCall(const std::string& function, const std::string& argument);
