#include "shell/commands/dispatcher.h"

#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

MainDlgState* g_pMainDlg = nullptr;

MainDlgState::~MainDlgState() = default;

std::string LocateFile(const std::string& name) {
  SessionState session = g_pMainDlg->Session();
  std::string in_session = session.tempFolder + name;
  if (IsExistingFile(in_session)) return in_session;
  return session.cacheFolder + name;
}

namespace {

const char kCatchAll[] = "响应消息命令时出现异常";

// Thrown where no command may run (an unknown mode, the teardown); the catch-all reply answers.
struct NoCommand {};

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

void Sweep(MainDlgState& state) {
  for (auto it = state.runningCommands.begin(); it != state.runningCommands.end();) {
    if (it->second && it->second->IsIdle())
      it = state.runningCommands.erase(it);
    else
      ++it;
  }
}

// Under the bridge lock: sweeps, then builds the request's command and stores it by its mode.
// The store owns it; the pointer stays good until the command is idle.
Command* Admit(MainDlgState& state, const CommandRequest& request) {
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  Sweep(state);
  if (state.closing) throw NoCommand();
  int mode = std::atoi(request.type.c_str());
  if (mode == 0) {
    std::unique_ptr<Command> command = state.factory.CreateCommand(request);
    Command* stored = command.get();
    state.runningCommands.emplace(stored->id, std::move(command));
    return stored;
  }
  if (mode != 1) throw NoCommand();
  if (Command* previous = state.exclusiveCommand.get()) {
    Pause();
    previous->stop();
    while (!previous->IsIdle()) Pause();
    state.exclusiveCommand.reset();
  }
  state.exclusiveCommand = state.factory.CreateCommand(request);
  return state.exclusiveCommand.get();
}

// Runs the command outside the bridge lock and logs its reply under the word as received.
void Execute(Command& command, const std::string& word, std::string& reply) {
  try {
    command.Run(reply);
  } catch (...) {
    command.MarkExecuteReturned();
    throw;
  }
  LogInfo(word, reply);
  // Once marked, another worker may delete the command: nothing here touches it after.
  command.MarkExecuteReturned();
}

// A command that failed with CmdException ends its life here, but only if it is still stored:
// a mode-1 dispatch on another worker may have stopped and deleted it meanwhile.
void ForgetCommand(MainDlgState& state, const std::string& id, const Command* command) {
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  auto it = state.runningCommands.find(id);
  if (it != state.runningCommands.end() && it->second.get() == command)
    state.runningCommands.erase(it);
  else if (state.exclusiveCommand && state.exclusiveCommand->id == id)
    state.exclusiveCommand.reset();
}

void Refuse(const char* tag, const std::string& message, std::string& reply) {
  LogError(tag, message);
  BuildCallbackJson(0, "", message, reply);
}

}  // namespace

const char* DispatchCmd(const char* region, const char* name, const char* params,
                        const char* type) {
  thread_local std::string last_reply;
  std::string reply;
  CommandRequest request{name ? name : "", region ? region : "", params ? params : "",
                         type ? type : ""};
  if (!g_pMainDlg) {  // before the main dialog exists or after it has gone
    BuildCallbackJson(0, "", kCatchAll, last_reply);
    return last_reply.c_str();
  }
  MainDlgState& state = *g_pMainDlg;

  Command* command = nullptr;
  std::string command_id;
  try {
    try {
      command = Admit(state, request);
      command_id = command->id;
      Execute(*command, request.name, reply);
    } catch (const CmdException& e) {
      Refuse("CmdException", e.getMessage(), reply);
      if (command) ForgetCommand(state, command_id, command);
    }
  } catch (const std::bad_alloc&) {
    // Exhaustion is answered like an unknown failure, not with the allocator's own text.
    Refuse("exception", kCatchAll, reply);
  } catch (const std::exception& e) {
    Refuse("exception", e.what(), reply);
  } catch (...) {
    Refuse("exception", kCatchAll, reply);
  }
  last_reply.swap(reply);
  return last_reply.c_str();
}

void StopAllCommands(MainDlgState& state, const std::function<void()>& waitStep) {
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  state.closing = true;
  auto finish = [&](std::unique_ptr<Command> command) {
    command->stop();
    while (!command->IsIdle()) waitStep();
  };
  for (auto it = state.runningCommands.begin(); it != state.runningCommands.end();) {
    std::unique_ptr<Command> command = std::move(it->second);
    it = state.runningCommands.erase(it);
    if (command) finish(std::move(command));
  }
  if (state.exclusiveCommand) finish(std::move(state.exclusiveCommand));
}
