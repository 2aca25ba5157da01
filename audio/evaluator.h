// The client of the speech-evaluation engine: starts and ends the engine process in the engine
// folder, speaks to it through the message transport and waits for each item's result.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "shell/commands/eval_item.h"

class CEvaluator {
 public:
  // The code of an item without a result: time-out, a result for another item, no engine.
  static constexpr int kNoResult = 39321;

  using SetParamEntry = int (*)(const wchar_t* name, const wchar_t* value);
  using SendEntry = int (*)(int number, const wchar_t* text);
  using OpenEntry = int (*)(const wchar_t* endpoint, int flag);
  using CloseEntry = void (*)();

  // |engineFolder| ends in "/". The engine has no window, so |show| changes nothing here.
  CEvaluator(const std::string& engineFolder, bool show);
  // Ends the engine and the transport's receiving thread.
  ~CEvaluator();
  CEvaluator(const CEvaluator&) = delete;
  CEvaluator& operator=(const CEvaluator&) = delete;

  // |stop|, when given, is the asking command's stop request: a handshake still awaited is
  // given up once it is set.
  bool StartEngine();
  int KillEngine();
  bool Connect(const std::atomic<bool>* stop = nullptr);
  bool EnsureStarted(const std::atomic<bool>* stop = nullptr);
  bool Restart(const std::atomic<bool>* stop = nullptr);
  void Stop();
  // The item's result code. Throws std::runtime_error("解析评测返回结果失败") for an answer that
  // is not JSON, and the JSON library's error for one whose members have the wrong type.
  int Evaluate(EvalItem item, const std::atomic<bool>* stop = nullptr);

  // The transport's receiver: 2900 carries a result, 8888 answers the handshake.
  static int OnEngineMessage(int number, const wchar_t* text);

  // Tests shorten the waits.
  void SetWaits(std::chrono::milliseconds result, std::chrono::milliseconds handshake);

 private:
  bool EngineRunning();  // reaps an engine that has ended by itself

  SetParamEntry setParam_;
  SendEntry send_;
  OpenEntry open_;
  CloseEntry close_;
  const std::string engineFolder_;
  // Serialises start, restart, stop and each evaluation; held by one thread at a time, which may
  // enter it again (Evaluate starts the engine itself when it finds none).
  std::recursive_mutex lock_;
  pid_t engine_ = -1;       // our engine process, under lock_
  bool connected_ = false;  // its handshake has come, under lock_
  std::chrono::milliseconds resultWait_{300000};
  std::chrono::milliseconds handshakeWait_{30000};
};
