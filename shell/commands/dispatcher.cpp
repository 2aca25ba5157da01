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
    Command* command = it->second;
    if (command && command->IsIdle()) {
      it = state.runningCommands.erase(it);
      delete command;
    } else {
      ++it;
    }
  }
}

// A command that failed with CmdException ends its life here, but only if it is still stored:
// a mode-1 dispatch on another worker may have stopped and deleted it meanwhile.
void ForgetCommand(MainDlgState& state, const std::string& id, Command* command) {
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  auto it = state.runningCommands.find(id);
  if (it != state.runningCommands.end() && it->second == command) {
    state.runningCommands.erase(it);
    delete command;
  } else if (state.exclusiveCommand && state.exclusiveCommand->id == id) {
    state.exclusiveCommand = nullptr;
    delete command;
  }
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
  bool locked = false;
  try {
    try {
      state.bridgeLock.lock();
      locked = true;
      Sweep(state);
      if (state.closing) throw NoCommand();
      int mode = std::atoi(request.type.c_str());
      if (mode == 0) {
        command = state.factory.CreateCommand(request);
        command_id = command->id;
        state.runningCommands.emplace(command_id, command);
      } else if (mode == 1) {
        if (Command* previous = state.exclusiveCommand) {
          Pause();
          previous->stop();
          while (!previous->IsIdle()) Pause();
          delete previous;
          state.exclusiveCommand = nullptr;
        }
        command = state.factory.CreateCommand(request);
        command_id = command->id;
        state.exclusiveCommand = command;
      } else {
        throw NoCommand();
      }
      locked = false;
      state.bridgeLock.unlock();

      try {
        command->execute(reply);
      } catch (...) {
        command->MarkExecuteReturned();
        throw;
      }
      // Once marked, another worker may delete the command: nothing here touches it after.
      std::string scratch;
      QLOG_INFO << FormatLogTag(request.name, reply, scratch);
      command->MarkExecuteReturned();
    } catch (const CmdException& e) {
      if (locked) {
        locked = false;
        state.bridgeLock.unlock();
      }
      std::string scratch;
      QLOG_ERROR << FormatLogTag("CmdException", e.getMessage(), scratch);
      BuildCallbackJson(0, "", e.getMessage(), reply);
      if (command) ForgetCommand(state, command_id, command);
    }
  } catch (const std::bad_alloc&) {
    // Exhaustion is answered like an unknown failure, not with the allocator's own text.
    if (locked) state.bridgeLock.unlock();
    std::string scratch;
    QLOG_ERROR << FormatLogTag("exception", kCatchAll, scratch);
    BuildCallbackJson(0, "", kCatchAll, reply);
  } catch (const std::exception& e) {
    if (locked) state.bridgeLock.unlock();
    std::string scratch;
    QLOG_ERROR << FormatLogTag("exception", e.what(), scratch);
    BuildCallbackJson(0, "", e.what(), reply);
  } catch (...) {
    if (locked) state.bridgeLock.unlock();
    std::string scratch;
    QLOG_ERROR << FormatLogTag("exception", kCatchAll, scratch);
    BuildCallbackJson(0, "", kCatchAll, reply);
  }
  last_reply.swap(reply);
  return last_reply.c_str();
}

void StopAllCommands(MainDlgState& state, const std::function<void()>& waitStep) {
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  state.closing = true;
  auto finish = [&](Command* command) {
    command->stop();
    while (!command->IsIdle()) waitStep();
    delete command;
  };
  for (auto it = state.runningCommands.begin(); it != state.runningCommands.end();) {
    Command* command = it->second;
    it = state.runningCommands.erase(it);
    if (command) finish(command);
  }
  if (Command* command = state.exclusiveCommand) {
    state.exclusiveCommand = nullptr;
    finish(command);
  }
}
