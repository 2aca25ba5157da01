// The shared state of a transfer command test, with a real HTTP server on 127.0.0.1 that serves
// the test's files folder and whose base URL is the session's server base URL.
#pragma once

#include <memory>
#include <string>

#include "exam_commands/transfer_commands.h"
#include "shell/commands/command.h"
#include "shell/core/helpers.h"
#include "tests/support/test_support.h"
#include "tests/transfer/local_http_server.h"

class TransferCommandTest : public StateFixture {
 protected:
  TransferCommandTest() { withLog = true; }
  void SetUp() override {
    StateFixture::SetUp();
    RegisterTransferCommands();
    store = root.path() + "store/";
    files = root.path() + "files/";
    MakeDirs(store, false, true);
    MakeDirs(files, false, true);
    server = std::make_unique<testing_http::LocalHttpServer>(store, false, files);
    state.UpdateSession([&](SessionState& s) { s.baseUrl = server->Base(); });
    session = state.Session();
    MakeDirs(session.cacheFolder, false, true);
  }
  void TearDown() override {
    StateFixture::TearDown();
    server.reset();
  }

  static std::string Reply(int flag, const std::string& data, const std::string& flagMsg) {
    std::string out;
    BuildCallbackJson(flag, data, flagMsg, out);
    return out;
  }
  static std::string ClosedUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(testing_http::ClosedPort()) + "/" + path;
  }

  std::string store;
  std::string files;
  std::unique_ptr<testing_http::LocalHttpServer> server;
  SessionState session;
};
