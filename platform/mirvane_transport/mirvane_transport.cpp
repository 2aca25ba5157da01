#include "platform/mirvane_transport/mirvane_transport.h"

#include "platform/mirvane_transport/transport_client.h"

namespace {

mirvane::TransportClient& Client() {
  static mirvane::TransportClient client;
  return client;
}

}  // namespace

int MirvaneSetParam(const wchar_t* name, const wchar_t* value) {
  return name && value && Client().SetParam(name, value) ? 1 : 0;
}

int MirvaneOpen(const wchar_t* endpoint, int flag) {
  return endpoint && Client().Open(endpoint, flag) ? 1 : 0;
}

int MirvaneSend(int number, const wchar_t* text) {
  return Client().Send(number, text ? text : L"") ? 1 : 0;
}

void MirvaneClose() { Client().Close(); }
