#include "machine_code/machine_code.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/machine_code/canned_tree.h"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out;
}

// The code as Python's hashlib makes it from the description of the chain: 32 zero bytes,
// sixteen rounds of SHA-256 over the digest followed by identity and salt, MD5 of the last
// digest and three zero bytes, Base64, and the kind letter over the first padding character.
std::string ReferenceCode(const std::string& identity, char kind) {
  const std::string script =
      "import hashlib,base64,sys\n"
      "s=bytes.fromhex(sys.argv[1])+b'tovrelk'\n"
      "d=bytes(32)\n"
      "for _ in range(16): d=hashlib.sha256(d+s).digest()\n"
      "e=base64.b64encode(hashlib.md5(d).digest()+bytes(3)).decode()\n"
      "print(e[:26]+sys.argv[2]+e[27:])\n";
  const std::string command = "python3 -c \"" + script + "\" " +
                              (identity.empty() ? std::string("''") : Hex(identity)) + " " + kind;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return "";
  char line[128] = {};
  if (!std::fgets(line, sizeof line, pipe.get())) return "";
  std::string out(line);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

void ExpectWellFormed(const std::string& code) {
  ASSERT_EQ(code.size(), 28u) << code;
  EXPECT_EQ(code.substr(22, 4), "AAAA");
  EXPECT_TRUE(code[26] == 'H' || code[26] == 'N') << code;
  EXPECT_EQ(code[27], '=');
}

TEST(EncodeMachineCodeTest, MatchesAnIndependentlyComputedChain) {
  const struct {
    std::string identity;
    char kind;
  } cases[] = {
      {"WD-WCAV12345678;WDC WD5000AAKX-001CA0", 'H'},
      {";Samsung SSD 860", 'H'},
      {"eth0;02-FC-00-00-00-01", 'N'},
      {"\xE7\xA3\x81\xE7\x9B\x98;\xE5\x9E\x8B\xE5\x8F\xB7", 'H'},  // UTF-8 bytes hash as they are
      {std::string(300, 'x'), 'H'},
  };
  for (const auto& c : cases) {
    const std::string expected = ReferenceCode(c.identity, c.kind);
    ASSERT_FALSE(expected.empty()) << "python3 gave no answer";
    const std::string code = encodeMachineCode(c.identity, c.kind);
    EXPECT_EQ(code, expected) << c.identity;
    ExpectWellFormed(code);
  }
}

TEST(EncodeMachineCodeTest, OpensslAgreesOnTheFirstRound) {
  // One SHA-256 round over 32 zero bytes + identity + salt, through the openssl tool, bounds the
  // chain's first step independently of Python.
  const std::string command =
      "printf 'eth0;02-FC-00-00-00-01tovrelk' | "
      "cat <(head -c 32 /dev/zero) - | openssl dgst -sha256 -binary | "
      "cat - <(printf 'eth0;02-FC-00-00-00-01tovrelk') | openssl dgst -sha256 -r";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen(("bash -c \"" + command + "\"").c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  char line[160] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, pipe.get()));
  const std::string twoRounds = std::string(line).substr(0, 64);
  const std::string script =
      "import hashlib\n"
      "s=b'eth0;02-FC-00-00-00-01tovrelk'\n"
      "d=bytes(32)\n"
      "for _ in range(2): d=hashlib.sha256(d+s).digest()\n"
      "print(d.hex())\n";
  std::unique_ptr<FILE, int (*)(FILE*)> py(popen(("python3 -c \"" + script + "\"").c_str(), "r"),
                                           pclose);
  ASSERT_TRUE(py);
  char pyLine[160] = {};
  ASSERT_TRUE(std::fgets(pyLine, sizeof pyLine, py.get()));
  EXPECT_EQ(twoRounds, std::string(pyLine).substr(0, 64));
}

TEST(ComputeMachineCodeTest, DiskIdentityGivesKindH) {
  CannedTree tree;
  MachineSources sources;
  sources.disk.sysRoot = tree.Path("sys");
  sources.disk.devRoot = tree.Path("dev");
  sources.disk.udevDataDir = tree.Path("udev");
  sources.disk.mountInfo = tree.Path("mountinfo");
  sources.disk.rootPath = tree.Path("missing");  // no root disk: the first listed disk is used
  sources.routeTablePath = tree.Path("route");
  const std::string disk = "sys/devices/pci0000:00/0000:00:04.0/virtio3/block/vda";
  tree.File(disk + "/dev", "252:0\n");
  tree.File(disk + "/serial", "QW123456");
  tree.Dir(disk + "/device");
  tree.Link("sys/class/block/vda", disk);
  tree.Link("sys/block/vda", disk);
  EXPECT_EQ(computeMachineCode(sources), encodeMachineCode("QW123456;", 'H'));
}

TEST(ComputeMachineCodeTest, AdapterIdentityGivesKindNAndNothingGivesEmpty) {
  CannedTree tree;
  MachineSources sources;
  sources.disk.sysRoot = tree.Path("sys");
  sources.disk.devRoot = tree.Path("dev");
  sources.disk.udevDataDir = tree.Path("udev");
  sources.disk.mountInfo = tree.Path("mountinfo");
  sources.disk.rootPath = tree.Path("missing");
  sources.routeTablePath = tree.Path("route");
  EXPECT_EQ(computeMachineCode(sources), "");

  tree.Dir("sys/devices/pci0000:00/0000:00:03.0/virtio2/net/qwnet7/device");
  tree.File("sys/devices/pci0000:00/0000:00:03.0/virtio2/net/qwnet7/address",
            "52:54:00:ab:cd:ef\n");
  tree.Link("sys/class/net/qwnet7", "sys/devices/pci0000:00/0000:00:03.0/virtio2/net/qwnet7");
  const std::string code = computeMachineCode(sources);
  EXPECT_EQ(code, encodeMachineCode("qwnet7;52-54-00-AB-CD-EF", 'N'));
  ExpectWellFormed(code);
}

TEST(MachineCodeExportsTest, WriteNothingWithoutACodeOrABuffer) {
  char narrow[28];
  std::fill(std::begin(narrow), std::end(narrow), '#');
  wchar_t wide[28];
  std::fill(std::begin(wide), std::end(wide), L'#');
  int length = -7;
  EXPECT_EQ(WriteMachineCodeA("", narrow, &length), 0);
  EXPECT_EQ(WriteMachineCodeW(L"", wide, &length), 0);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(std::string(narrow, 28), std::string(28, '#'));
  EXPECT_EQ(std::wstring(wide, 28), std::wstring(28, L'#'));

  EXPECT_EQ(getMachineCodeA(nullptr, &length), 0);
  EXPECT_EQ(getMachineCodeA(narrow, nullptr), 0);
  EXPECT_EQ(getMachineCodeW(nullptr, &length), 0);
  EXPECT_EQ(getMachineCodeW(wide, nullptr), 0);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(std::string(narrow, 28), std::string(28, '#'));
  EXPECT_EQ(std::wstring(wide, 28), std::wstring(28, L'#'));
}

TEST(MachineCodeExportsTest, ThisMachineHasAStableCode) {
  const std::string code = computeMachineCode();
  ExpectWellFormed(code);
  EXPECT_EQ(computeMachineCode(), code);

  // Looked up by name, as a program that loads the client finds them.
  using NarrowFn = int (*)(char*, int*);
  using WideFn = int (*)(wchar_t*, int*);
  auto narrowFn = reinterpret_cast<NarrowFn>(dlsym(RTLD_DEFAULT, "getMachineCodeA"));
  auto wideFn = reinterpret_cast<WideFn>(dlsym(RTLD_DEFAULT, "getMachineCodeW"));
  ASSERT_NE(narrowFn, nullptr);
  ASSERT_NE(wideFn, nullptr);

  char narrow[40];
  std::fill(std::begin(narrow), std::end(narrow), '#');
  int length = 0;
  ASSERT_EQ(narrowFn(narrow, &length), 1);
  EXPECT_EQ(length, 28);
  EXPECT_EQ(std::string(narrow, 28), code);
  EXPECT_EQ(narrow[28], '#');  // not terminated

  wchar_t wide[40];
  std::fill(std::begin(wide), std::end(wide), L'#');
  length = 0;
  ASSERT_EQ(wideFn(wide, &length), 1);
  EXPECT_EQ(length, 28);
  EXPECT_EQ(std::wstring(wide, 28), std::wstring(code.begin(), code.end()));
  EXPECT_EQ(wide[28], L'#');
}

}  // namespace
