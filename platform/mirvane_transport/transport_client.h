// The client's side of the transport: one connection to an endpoint, messages sent on the
// caller's thread, incoming messages delivered to a receiver on a thread of the transport's own.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace mirvane {

using Receiver = int (*)(int number, const wchar_t* text);

class TransportClient {
 public:
  TransportClient() = default;
  ~TransportClient();
  TransportClient(const TransportClient&) = delete;
  TransportClient& operator=(const TransportClient&) = delete;

  // "recv_msg": the receiver's address as text (decimal or 0x hexadecimal); "recv_msg_on_thread"
  // and "run_on_thread": only "1", delivery on the transport's own thread, is offered. False for
  // any other name or value.
  bool SetParam(const std::wstring& name, const std::wstring& value);
  // Names the endpoint and tries to connect; a listener that is not there yet is no failure:
  // every send connects again until one succeeds.
  bool Open(const std::wstring& endpoint, int flag);
  // False when the message could not be handed over (no listener, connection lost); the next
  // send connects afresh.
  bool Send(int number, const std::wstring& text);
  // Drops the connection and ends the receiving thread; Open starts again.
  void Close();

 private:
  struct Connection;
  bool ConnectLocked();
  void DropLocked();
  static void ReadLoop(std::shared_ptr<Connection> connection, Receiver receiver);

  std::mutex mutex_;  // guards every member below
  Receiver receiver_ = nullptr;
  std::string endpoint_;
  std::shared_ptr<Connection> connection_;
  std::thread reader_;
};

}  // namespace mirvane
