#include "machine_code/network_adapter.h"

#include <gtest/gtest.h>

#include "tests/machine_code/canned_tree.h"

namespace {

AdapterInfo Adapter(const std::string& name, unsigned char last, const std::string& ip,
                    const std::string& gateway) {
  AdapterInfo a;
  a.description = name;
  const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, last};
  std::copy(mac, mac + 6, a.mac);
  a.ip = ip;
  a.gateway = gateway;
  return a;
}

TEST(AdapterChoiceTest, LastRoutedAdapterWinsOtherwiseTheFirst) {
  EXPECT_EQ(ChooseAdapterIdentity({}), "");
  EXPECT_EQ(ChooseAdapterIdentity({Adapter("eth0", 0x5e, "", "")}), "eth0;00-1A-2B-3C-4D-5E");
  EXPECT_EQ(ChooseAdapterIdentity({Adapter("eth0", 1, "10.0.0.2", "10.0.0.1"),
                                   Adapter("wlan0", 2, "192.168.1.5", "192.168.1.1")}),
            "wlan0;00-1A-2B-3C-4D-02");
  EXPECT_EQ(ChooseAdapterIdentity({Adapter("eth0", 1, "10.0.0.2", "10.0.0.1"),
                                   Adapter("eth1", 2, "192.168.1.5", "")}),
            "eth0;00-1A-2B-3C-4D-01");
  // An address without a gateway, or a gateway of 0.0.0.0, does not count.
  EXPECT_EQ(ChooseAdapterIdentity({Adapter("eth0", 1, "", ""),
                                   Adapter("eth1", 2, "192.168.1.5", "0.0.0.0"),
                                   Adapter("eth2", 3, "", "192.168.1.1")}),
            "eth0;00-1A-2B-3C-4D-01");
}

TEST(ReadAdaptersTest, ListsDevicesInIndexOrderWithAddressAndGateway) {
  CannedTree tree;
  auto net = [&](const std::string& name, const std::string& device_path, const std::string& mac,
                 int index, bool device) {
    const std::string dir = device_path + "/net/" + name;
    tree.File(dir + "/address", mac + "\n");
    tree.File(dir + "/ifindex", std::to_string(index) + "\n");
    if (device) tree.Dir(dir + "/device");
    tree.Link("sys/class/net/" + name, dir);
  };
  net("lo", "sys/devices/virtual", "00:00:00:00:00:00", 1, false);
  net("wlp2s0", "sys/devices/pci0000:00/0000:02:00.0", "a4:c3:f0:11:22:33", 3, true);
  net("enp0s31f6", "sys/devices/pci0000:00/0000:00:1f.6", "8c:16:45:aa:bb:cc", 2, true);
  net("docker0", "sys/devices/virtual", "02:42:8e:00:00:01", 4, false);
  net("ib0", "sys/devices/pci0000:00/0000:05:00.0", "80:00", 5, true);  // too short

  const std::string routes =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "wlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
      "enp0s31f6\t0000000A\t00000000\t0001\t0\t0\t100\t000000FF\t0\t0\t0\n";
  std::vector<AdapterInfo> adapters = ReadAdapters(
      tree.Path("sys"), routes, {{"wlp2s0", "192.168.1.5"}, {"enp0s31f6", "10.0.0.7"}});
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[0].description, "enp0s31f6");
  EXPECT_EQ(adapters[0].ip, "10.0.0.7");
  EXPECT_EQ(adapters[0].gateway, "");
  EXPECT_EQ(adapters[1].description, "wlp2s0");
  EXPECT_EQ(adapters[1].ip, "192.168.1.5");
  EXPECT_EQ(adapters[1].gateway, "192.168.1.1");
  EXPECT_EQ(ChooseAdapterIdentity(adapters), "wlp2s0;A4-C3-F0-11-22-33");
}

TEST(ReadAdaptersTest, ThisMachinesAdaptersHaveDevices) {
  NetworkAdapterCode code;
  std::string identity = "stale";
  code.getCode(identity);
  if (identity.empty()) return;  // a machine whose interfaces are all virtual has none
  EXPECT_EQ(identity.find("lo;"), std::string::npos);
  ASSERT_GE(identity.size(), 18u);
  EXPECT_EQ(identity[identity.size() - 18], ';');
}

}  // namespace
