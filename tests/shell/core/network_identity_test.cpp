#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <fstream>

#include "shell/core/helpers.h"

namespace {

const char kRouteHeader[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(DefaultRouteTest, RoutesThatAreDownOrForOneHostAreNoDefault) {
  EXPECT_EQ(DefaultRouteInterface(std::string(kRouteHeader) +
                                  "eth0\t00000000\t0100000A\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"
                                  "eth1\t00000000\t0100000A\t0003\t0\t0\t100\tFFFFFFFF\t0\t0\t0\n"),
            "");
  EXPECT_EQ(DefaultRouteInterface(""), "");
}

TEST(InterfaceMacTest, LabelsStandForTheirInterface) {
  char pattern[] = "/tmp/qwnet-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  boost::filesystem::create_directories(root + "/class/net/eth0");
  boost::filesystem::create_directories(root + "/class/net/lo");
  std::ofstream(root + "/class/net/eth0/address") << "8c:16:45:aa:bb:0c\n";
  std::ofstream(root + "/class/net/lo/address") << "00:00:00:00:00:00\n";
  std::string mac = "unchanged";
  EXPECT_TRUE(InterfaceMac(root, "eth0", mac));
  EXPECT_EQ(mac, "8C-16-45-AA-BB-0C");
  mac = "unchanged";
  EXPECT_TRUE(InterfaceMac(root, "eth0:backup", mac));
  EXPECT_EQ(mac, "8C-16-45-AA-BB-0C");
  mac = "unchanged";
  EXPECT_FALSE(InterfaceMac(root, "lo", mac));
  EXPECT_FALSE(InterfaceMac(root, "eth9", mac));
  EXPECT_FALSE(InterfaceMac(root, "../net/eth0", mac));
  EXPECT_FALSE(InterfaceMac(root, "", mac));
  EXPECT_EQ(mac, "unchanged");
  boost::filesystem::remove_all(root);
}

// The source address the kernel would use for a packet through the default route; connecting a
// datagram socket sends nothing.
std::string DefaultSourceAddress() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_in remote = {};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(9);
  inet_pton(AF_INET, "198.51.100.1", &remote.sin_addr);
  std::string out;
  sockaddr_in local = {};
  socklen_t length = sizeof local;
  if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof text)) out = text;
  }
  close(fd);
  return out;
}

// The link-layer address of the interface holding |ip|, from the interface list's packet
// entries rather than sysfs.
std::string PacketMacOf(const std::string& ip) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string name, mac;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    char text[INET_ADDRSTRLEN];
    if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET &&
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                  sizeof text) &&
        ip == text)
      name = a->ifa_name;
  }
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (a->ifa_addr && a->ifa_addr->sa_family == AF_PACKET && name == a->ifa_name) {
      auto* ll = reinterpret_cast<sockaddr_ll*>(a->ifa_addr);
      if (ll->sll_halen == 6) mac = FormatMac(ll->sll_addr, 6);
    }
  }
  freeifaddrs(list);
  return mac;
}

TEST(LocalNetworkTest, LocalIpIsTheDefaultRoutesSourceAddress) {
  const std::string expected = DefaultSourceAddress();
  std::string ip;
  bool found = GetLocalIp(ip);
  if (expected.empty()) GTEST_SKIP() << "this machine has no default route";
  ASSERT_TRUE(found);
  EXPECT_EQ(ip, expected);
  EXPECT_NE(ip.compare(0, 4, "127."), 0);
}

TEST(LocalNetworkTest, LocalAddressAnswersWithItsInterfacesMac) {
  std::string ip;
  if (!GetLocalIp(ip)) GTEST_SKIP() << "this machine has no IPv4 address";
  std::string mac;
  ASSERT_TRUE(GetMacByArp(ip, mac));
  EXPECT_EQ(mac, PacketMacOf(ip));
  EXPECT_EQ(mac.size(), 17u);

  mac = "unchanged";
  EXPECT_FALSE(GetMacByArp("127.0.0.1", mac));  // loopback has no MAC
  EXPECT_EQ(mac, "unchanged");
}

}  // namespace
