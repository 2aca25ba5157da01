#include "machine_code/network_adapter.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "shell/core/helpers.h"

namespace {

bool ParseHardwareAddress(std::string text, unsigned char (&mac)[6]) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::istringstream parts(text);
  std::string part;
  int count = 0;
  while (std::getline(parts, part, ':')) {
    char* end = nullptr;
    unsigned long byte = std::strtoul(part.c_str(), &end, 16);
    if (part.empty() || part.size() > 2 || *end != '\0' || byte > 0xFF) return false;
    if (count < 6) mac[count] = static_cast<unsigned char>(byte);
    ++count;
  }
  return count >= 6;
}

// Each interface's default gateway, from the kernel's route table text.
std::map<std::string, std::string> DefaultGateways(const std::string& routeTable) {
  std::map<std::string, std::string> gateways;
  std::istringstream lines(routeTable);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    unsigned long bits = std::strtoul(flags.c_str(), nullptr, 16);
    if (dest != "00000000" || mask != "00000000" || (bits & 0x3) != 0x3) continue;  // up, gateway
    in_addr addr;
    addr.s_addr = static_cast<in_addr_t>(std::strtoul(gateway.c_str(), nullptr, 16));
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &addr, text, sizeof text)) gateways.emplace(iface, text);
  }
  return gateways;
}

}  // namespace

std::vector<AdapterInfo> ReadAdapters(const std::string& sysRoot, const std::string& routeTable,
                                      const std::map<std::string, std::string>& addresses) {
  const std::map<std::string, std::string> gateways = DefaultGateways(routeTable);
  std::vector<std::pair<long, AdapterInfo>> found;
  const std::string netDir = sysRoot + "/class/net/";
  std::vector<std::string> names;
  if (DIR* d = opendir(netDir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  for (const std::string& name : names) {
    const std::string dir = netDir + name;
    struct stat st;
    if (stat((dir + "/device").c_str(), &st) != 0) continue;
    AdapterInfo adapter;
    adapter.description = name;
    if (!ParseHardwareAddress(ReadWholeFile(dir + "/address"), adapter.mac)) continue;
    auto ip = addresses.find(name);
    if (ip != addresses.end()) adapter.ip = ip->second;
    auto gateway = gateways.find(name);
    if (gateway != gateways.end()) adapter.gateway = gateway->second;
    found.emplace_back(std::strtol(ReadWholeFile(dir + "/ifindex").c_str(), nullptr, 10), adapter);
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.description < b.second.description;
  });
  std::vector<AdapterInfo> adapters;
  for (auto& entry : found) adapters.push_back(entry.second);
  return adapters;
}

std::map<std::string, std::string> LocalIpv4Addresses() {
  std::map<std::string, std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
    std::string name = a->ifa_name;
    name = name.substr(0, name.find(':'));  // "eth0:1" is an alias of eth0
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                  sizeof text))
      addresses.emplace(name, text);
  }
  freeifaddrs(list);
  return addresses;
}

std::string ChooseAdapterIdentity(const std::vector<AdapterInfo>& adapters) {
  std::string choice;
  bool first = true;
  for (const AdapterInfo& adapter : adapters) {
    const bool routed = !adapter.ip.empty() && !adapter.gateway.empty() &&
                        adapter.gateway != "0.0.0.0";
    if (first || routed) choice = adapter.description + ";" + FormatMac(adapter.mac, 6);
    first = false;
  }
  return choice;
}

void NetworkAdapterCode::getCode(std::string& out) const {
  out = ChooseAdapterIdentity(
      ReadAdapters(sysRoot_, ReadWholeFile(routeTablePath_), LocalIpv4Addresses()));
}
