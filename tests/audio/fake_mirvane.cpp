// An engine that answers as the request's "eval_params" tells it: "code:N" scores N, "other"
// answers for another item, "notjson" answers with text that is no JSON, "mute" never answers,
// "exit" ends without answering, "slow:MS" waits that long first. With FAKE_ENGINE_NO_HANDSHAKE
// set it never answers the handshake. Each request is appended, one line, to $FAKE_ENGINE_LOG.
#include <json/json.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/mirvane_transport/transport_server.h"

int main() {
  const pid_t parent = getppid();
  const bool handshake = std::getenv("FAKE_ENGINE_NO_HANDSHAKE") == nullptr;
  const char* log = std::getenv("FAKE_ENGINE_LOG");
  mirvane::TransportServer server;
  if (!server.Listen("ut_mirvane")) return 1;
  server.Run(
      [&](int32_t number, const std::string& text, const mirvane::TransportServer::Reply& reply) {
        if (number == 8888) {
          if (handshake) reply(8888, "ut");
          return;
        }
        if (number != 3) return;
        if (log) std::ofstream(log, std::ios::app) << getpid() << " " << text << "\n";
        Json::Value request;
        std::istringstream in(text);
        in >> request;
        std::string how = request["eval_params"].asString();
        Json::Value answer(Json::objectValue);
        answer["identity"] = request["identity"];
        answer["err_code"] = 0;
        if (how.rfind("slow:", 0) == 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(how.c_str() + 5)));
        if (how.rfind("code:", 0) == 0) answer["err_code"] = std::atoi(how.c_str() + 5);
        if (how == "other") answer["identity"] = "someone-else";
        if (how == "mute") return;
        if (how == "exit") std::_Exit(0);
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        reply(2900, how == "notjson" ? "not json" : Json::writeString(builder, answer));
      },
      [&] { return getppid() == parent; });
  return 0;
}
