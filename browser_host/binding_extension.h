// The program's end of the page bridge: page commands from the renderers are checked, run on
// pool workers through the registered dispatch callback, and answered under their own name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "browser_host/client_handler.h"

namespace Kestrow {
namespace Base {

class KeTask {
 public:
  virtual ~KeTask() = default;
  virtual void Run() = 0;
};

class KeTaskFactory {
 public:
  class InnerTask : public KeTask {};

  template <class A1, class A2, class A3, class A4, class A5, class A6>
  class InnerTask5 : public InnerTask {
   public:
    typedef std::function<void(A1, A2, A3, A4, A5, A6)> Function;
    InnerTask5(Function f, A1 a1, A2 a2, A3 a3, A4 a4, A5 a5, A6 a6)
        : f_(std::move(f)), a1_(a1), a2_(a2), a3_(a3), a4_(a4), a5_(a5), a6_(a6) {}
    void Run() override {
      if (f_) f_(a1_, a2_, a3_, a4_, a5_, a6_);
    }

   private:
    Function f_;
    A1 a1_;
    A2 a2_;
    A3 a3_;
    A4 a4_;
    A5 a5_;
    A6 a6_;
  };

  template <class A1, class A2, class A3, class A4, class A5, class A6>
  static KeTask* NewTask(std::function<void(A1, A2, A3, A4, A5, A6)> f, A1 a1, A2 a2, A3 a3, A4 a4,
                         A5 a5, A6 a6) {
    return new InnerTask5<A1, A2, A3, A4, A5, A6>(std::move(f), a1, a2, a3, a4, a5, a6);
  }
};

}  // namespace Base
}  // namespace Kestrow

class TaskPool;

// Queues the task on the process-wide pool, which grows with the work (commands block in it);
// the task is run, then deleted. On failure the task is deleted and false returned.
bool QueueKeTask(Kestrow::Base::KeTask* task, bool longFunction);
// The same on |pool|.
bool QueueKeTask(TaskPool& pool, Kestrow::Base::KeTask* task);

namespace binding_extension {

// Reads "funcID" (an integer) and "funcName" (a text) of a request name; false when the text
// is no JSON object with both members of those types.
bool ParseCallbackInfo(const std::string& name, int& funcId, std::string& funcName);

// The four texts of an accepted page command.
struct BindingCommand {
  std::string region, command, params, type;
};
// Every check of an incoming message; false when it is not an acceptable page command.
bool ParseBindingCommand(CefRefPtr<CefProcessMessage> message, BindingCommand& out);

// Where a command's reply goes: straight back as the reply to the request when the request
// came with the way to do that, else to the browser's renderer as a message of its own.
struct ReplyRoute {
  CefRefPtr<CefBrowser> browser;
  CefRefPtr<CefProcessMessageReply> reply;
};

void RunBindingCommand(ReplyRoute route, std::string name, std::string region,
                       std::string command, std::string params, std::string type);
// Sends |reply| to the page under the request's |name|.
void SendReply(const ReplyRoute& route, std::string name, std::string reply);
// Runs the command on a worker of |pool|; one that no worker can take is answered at once with
// the dispatcher's failure for a command it could not run.
void QueueBindingCommand(TaskPool& pool, ReplyRoute route, std::string name, BindingCommand c);

class ProcessMessageDelegate : public ClientHandler::ProcessMessageDelegate,
                               public CefRefCounted<ProcessMessageDelegate> {
 public:
  bool OnProcessMessageReceived(CefRefPtr<ClientHandler> handler, CefRefPtr<CefBrowser> browser,
                                CefProcessId source_process,
                                CefRefPtr<CefProcessMessage> message) override;
};

void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates);

}  // namespace binding_extension
