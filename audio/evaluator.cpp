#include "audio/evaluator.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <stdexcept>

#include "platform/mirvane_transport/mirvane_transport.h"
#include "shell/commands/command.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

extern char** environ;

namespace {

constexpr int kHandshake = 8888;
constexpr int kRequest = 3;
constexpr int kResult = 2900;
constexpr auto kHandshakeInterval = std::chrono::milliseconds(200);
// How often a wait for a result looks whether the engine is still there.
constexpr auto kAliveCheck = std::chrono::milliseconds(200);

// What the transport's thread hands to the waiting worker. One result at a time: a wait takes
// the result it gets, and a request clears whatever an earlier engine left behind.
struct EngineMessages {
  std::mutex mutex;
  std::condition_variable changed;
  bool handshake = false;
  bool resultReady = false;
  std::wstring result;
};

EngineMessages& Messages() {
  static EngineMessages messages;
  return messages;
}

// The JSON library's text of a member: empty for a missing one.
std::string MemberText(const Json::Value& object, const char* name) {
  const Json::Value& value = object[name];
  return value.isNull() ? "" : value.asString();
}

}  // namespace

CEvaluator::CEvaluator(const std::string& engineFolder, bool show)
    : setParam_(MirvaneSetParam),
      send_(MirvaneSend),
      open_(MirvaneOpen),
      close_(MirvaneClose),
      engineFolder_(engineFolder) {
  (void)show;
}

CEvaluator::~CEvaluator() { Stop(); }

void CEvaluator::SetWaits(std::chrono::milliseconds result, std::chrono::milliseconds handshake) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  resultWait_ = result;
  handshakeWait_ = handshake;
}

bool CEvaluator::EngineRunning() {
  if (engine_ <= 0) return false;
  int status;
  pid_t done = waitpid(engine_, &status, WNOHANG);
  if (done == 0) return true;
  engine_ = -1;
  connected_ = false;
  return false;
}

bool CEvaluator::StartEngine() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (EngineRunning()) return true;
  std::string path = engineFolder_ + "mirvane.exe";
  if (!IsExistingFile(path)) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // The engine starts with no signal blocked, whatever the worker that starts it blocks.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::string arg0 = path;
  char* argv[] = {&arg0[0], nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  engine_ = pid;
  connected_ = false;
  return EngineRunning();
}

int CEvaluator::KillEngine() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!EngineRunning()) return 0;
  LogInfo("evaluate", "kernel已经在进程中！关闭kernel进程");
  // Only the engine this evaluator started is ended, and it is reaped here: another client's
  // engine is none of ours, and no zombie is left behind.
  int result = kill(engine_, SIGKILL) == 0 ? 1 : 0;
  while (waitpid(engine_, nullptr, 0) < 0 && errno == EINTR) {
  }
  engine_ = -1;
  connected_ = false;
  return result;
}

bool CEvaluator::Connect(const std::atomic<bool>* stop) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  EngineMessages& messages = Messages();
  {
    std::lock_guard<std::mutex> lock(messages.mutex);
    messages.handshake = false;
  }
  std::wstring receiver =
      std::to_wstring(reinterpret_cast<std::uintptr_t>(&CEvaluator::OnEngineMessage));
  setParam_(L"recv_msg", receiver.c_str());
  setParam_(L"recv_msg_on_thread", L"1");
  setParam_(L"run_on_thread", L"1");
  open_(L"ut_mirvane", 0);
  // An engine that never answers must not hold the evaluation for ever: the wait ends when the
  // engine has gone, the command is stopped, or the handshake is overdue.
  auto deadline = std::chrono::steady_clock::now() + handshakeWait_;
  while (true) {
    send_(kHandshake, L"ut");
    {
      std::unique_lock<std::mutex> lock(messages.mutex);
      if (messages.changed.wait_for(lock, kHandshakeInterval, [&] { return messages.handshake; }))
        return true;
    }
    if ((stop && *stop) || std::chrono::steady_clock::now() >= deadline || !EngineRunning())
      return false;
  }
}

bool CEvaluator::EnsureStarted(const std::atomic<bool>* stop) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  connected_ = StartEngine() && Connect(stop);
  return connected_;
}

bool CEvaluator::Restart(const std::atomic<bool>* stop) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  KillEngine();
  connected_ = StartEngine() && Connect(stop);
  return connected_;
}

void CEvaluator::Stop() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  KillEngine();
  close_();
}

int CEvaluator::Evaluate(EvalItem item, const std::atomic<bool>* stop) {
  std::unique_lock<std::recursive_mutex> guard(lock_);
  std::string request = item.toJson();
  LogInfo("evaluate", "开始客户端评测过程: " + request);
  if (!EngineRunning()) EnsureStarted(stop);
  // An engine that could not be started or never answered the handshake gets no request: the
  // item has no result at once instead of after the whole result time.
  if (!connected_) {
    LogError("evaluate", "评测引擎未连接");
    return kNoResult;
  }

  EngineMessages& messages = Messages();
  {
    std::lock_guard<std::mutex> lock(messages.mutex);
    messages.resultReady = false;
    messages.result.clear();
  }
  if (!send_(kRequest, NarrowToWide(request).c_str())) return kNoResult;

  std::wstring result;
  bool got = false;
  auto deadline = std::chrono::steady_clock::now() + resultWait_;
  while (!got) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      LogError("evaluate", "评测超时异常退出");
      return kNoResult;
    }
    std::unique_lock<std::mutex> lock(messages.mutex);
    got = messages.changed.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                              kAliveCheck, deadline - now),
                                    [&] { return messages.resultReady; });
    if (got) {
      messages.resultReady = false;
      result.swap(messages.result);
    } else if (!EngineRunning()) {
      return kNoResult;  // the engine ended without answering
    }
  }

  Json::Value answer;
  if (!ParseJson(WideToNarrow(result), answer)) throw std::runtime_error("解析评测返回结果失败");
  if (MemberText(answer, "identity") != item.identity) return kNoResult;
  return answer["err_code"].asInt();
}

int CEvaluator::OnEngineMessage(int number, const wchar_t* text) {
  EngineMessages& messages = Messages();
  std::lock_guard<std::mutex> lock(messages.mutex);
  if (number == kResult) {
    messages.result = text ? text : L"";
    messages.resultReady = true;
  } else if (number == kHandshake) {
    messages.handshake = true;
  } else {
    return 0;
  }
  messages.changed.notify_all();
  return 0;
}
