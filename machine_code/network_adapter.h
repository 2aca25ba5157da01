// The network adapter that stands in for the disk when no disk reader succeeds.
#pragma once

#include <map>
#include <string>
#include <vector>

struct AdapterInfo {
  std::string description;  // the interface name: Linux keeps no adapter description
  unsigned char mac[6] = {};
  std::string ip;       // first IPv4 address, empty when it has none
  std::string gateway;  // its default route's gateway, empty when it has none
};

// The interfaces under |sysRoot|/class/net in index order, except those without a device behind
// them (loopback, bridges, tunnels, containers' pairs), whose addresses change from boot to boot,
// and those whose hardware address is shorter than six bytes. |routeTable| is the text of
// /proc/net/route, |addresses| each interface's first IPv4 address.
std::vector<AdapterInfo> ReadAdapters(const std::string& sysRoot, const std::string& routeTable,
                                      const std::map<std::string, std::string>& addresses);
// Every interface's first IPv4 address, by interface name (aliases count for their interface).
std::map<std::string, std::string> LocalIpv4Addresses();

// The first adapter's entry, replaced by that of every later adapter that has an address and a
// real gateway: the last such adapter wins. Empty without adapters.
std::string ChooseAdapterIdentity(const std::vector<AdapterInfo>& adapters);

class NetworkAdapterCode {
 public:
  explicit NetworkAdapterCode(std::string sysRoot = "/sys",
                              std::string routeTablePath = "/proc/net/route")
      : sysRoot_(std::move(sysRoot)), routeTablePath_(std::move(routeTablePath)) {}
  // description + ";" + MAC ("00-1A-2B-3C-4D-5E") of the chosen adapter, or empty.
  void getCode(std::string& out) const;

 private:
  std::string sysRoot_;
  std::string routeTablePath_;
};
