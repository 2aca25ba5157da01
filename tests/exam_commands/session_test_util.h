// What the session, settings, answer and file command tests share: the fixture with every one
// of those commands registered, reply reading, and running the checking tools of the system.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "exam_commands/exam_session_commands.h"
#include "exam_commands/session_record.h"
#include "shell/core/helpers.h"
#include "tests/support/test_support.h"

struct Reply {
  int flag = -1;
  std::string data;
  std::string flagMsg;
};

inline Reply ReadReply(const std::string& text) {
  Json::Value v;
  Reply reply;
  if (!ParseJson(text, v)) {
    ADD_FAILURE() << "reply is not JSON: " << text;
    return reply;
  }
  reply.flag = v["flag"].asInt();
  reply.data = v["data"].asString();
  reply.flagMsg = v["flagMsg"].asString();
  return reply;
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWhole(const std::string& path, const std::string& text) {
  MakeDirs(path.substr(0, path.rfind('/') + 1), false, true);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Standard output of a shell command line and its exit status.
inline std::string RunCapture(const std::string& commandLine, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(commandLine.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// The fixture of these tests: the system's temporary folder is one inside the test's own
// folder, so that session folders are made (and removed) there.
class ExamSessionFixture : public StateFixture {
 protected:
  void SetUp() override {
    const char* tmp = getenv("TMPDIR");
    savedTmp = tmp ? tmp : "";
    hadTmp = tmp != nullptr;
    StateFixture::SetUp();
    systemTemp = root.path() + "tmp/";
    setenv("TMPDIR", systemTemp.c_str(), 1);
    state.fileVersion = "1.0.0.1";
    RegisterExamSessionCommands();
  }
  void TearDown() override {
    // The session records go to this test's folders, which are about to go.
    WaitForSessionRecords();
    StateFixture::TearDown();
    if (hadTmp)
      setenv("TMPDIR", savedTmp.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

  Reply Send(const std::string& name, const std::string& params, const std::string& type = "0") {
    return ReadReply(Dispatch(name, params, type));
  }
  static std::string Quote(const std::string& text) {
    Json::Value v(text);
    std::string out = WriteJson(v);
    out.pop_back();
    return out;
  }

  std::string systemTemp;

 private:
  std::string savedTmp;
  bool hadTmp = false;
};
