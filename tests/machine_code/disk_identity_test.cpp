#include "machine_code/disk_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "machine_code/text_rules.h"
#include "tests/machine_code/canned_tree.h"

namespace {

// Text padded with blanks to |width|, as devices store their fixed fields.
std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// 512 bytes of IDENTIFY data as the device sends them: little-endian words whose text bytes are
// stored high byte first.
std::vector<unsigned char> AtaIdentify(const std::string& serial, const std::string& revision,
                                       const std::string& model) {
  std::vector<unsigned char> data(512, 0);
  auto put = [&](std::size_t word, const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size() + 1; i += 2) {
      data[2 * (word + i / 2) + 1] = static_cast<unsigned char>(text[i]);
      data[2 * (word + i / 2)] = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
    }
  };
  put(10, Padded(serial, 20));
  put(23, Padded(revision, 8));
  put(27, Padded(model, 40));
  return data;
}

std::vector<unsigned char> NvmeIdentify(const std::string& serial, const std::string& model,
                                        const std::string& revision) {
  std::vector<unsigned char> data(4096, 0);
  auto put = [&](std::size_t offset, const std::string& text) {
    std::copy(text.begin(), text.end(), data.begin() + static_cast<long>(offset));
  };
  put(4, Padded(serial, 20));
  put(24, Padded(model, 40));
  put(64, Padded(revision, 8));
  return data;
}

struct Fields {
  std::string serial, model, revision;
  bool verdict;
};

Fields FromAta(const std::vector<unsigned char>& data) {
  char buffer[kDiskBufferSize] = {};
  bool verdict = FillFromAtaIdentify(data.data(), data.size(), buffer);
  return {SerialField(buffer), ModelField(buffer), RevisionField(buffer), verdict};
}

// A reader whose device answers with canned IDENTIFY data, to see getCode's identity text.
class CannedAtaReader : public HardDiskCode {
 public:
  explicit CannedAtaReader(std::vector<unsigned char> data)
      : HardDiskCode(DiskSources()), data_(std::move(data)) {}
  bool readSerial(int, char* buffer) override {
    return FillFromAtaIdentify(data_.data(), data_.size(), buffer);
  }

 private:
  std::vector<unsigned char> data_;
};

TEST(AtaIdentifyTest, SwapsEachWordAndCutsTrailingBlanks) {
  Fields f = FromAta(AtaIdentify("WD-WCAV12345678", "15.01H15", "WDC WD5000AAKX-001CA0"));
  EXPECT_EQ(f.serial, "WD-WCAV12345678");
  EXPECT_EQ(f.revision, "15.01H15");
  EXPECT_EQ(f.model, "WDC WD5000AAKX-001CA0");
  EXPECT_TRUE(f.verdict);
}

TEST(AtaIdentifyTest, VerdictLooksAtFirstAndTwentiethCharacter) {
  // Right-justified serial: the first character is a blank, the twentieth a digit.
  Fields right = FromAta(AtaIdentify("        WD-WMAYP1234", "1", "M"));
  EXPECT_EQ(right.serial, "        WD-WMAYP1234");
  EXPECT_TRUE(right.verdict);
  // Neither end is a letter or digit.
  EXPECT_FALSE(FromAta(AtaIdentify("-ABC-", "1", "M")).verdict);
  // Blank serial: cut down to its first character, which is never cut.
  Fields blank = FromAta(AtaIdentify("", "1", "Model"));
  EXPECT_EQ(blank.serial, " ");
  EXPECT_FALSE(blank.verdict);
  EXPECT_EQ(blank.model, "Model");
}

TEST(AtaIdentifyTest, BytesAboveAsciiAreNeitherLettersNorBlanks) {
  // 0xE9 and 0xA0 would be letters or blanks to a locale-aware test taking a signed char.
  std::string serial = "\xE9" "BCDEFGHIJKLMNOPQRS\xA0";
  Fields f = FromAta(AtaIdentify(serial, "1", "M"));
  EXPECT_EQ(f.serial, serial);  // 0xA0 is not white space: nothing is cut
  EXPECT_FALSE(f.verdict);
}

TEST(AtaIdentifyTest, ANulEndsTheField) {
  Fields f = FromAta(AtaIdentify(std::string("AB\0CD", 5), "1", "M"));
  EXPECT_EQ(f.serial, "AB");
  EXPECT_TRUE(f.verdict);
}

TEST(AtaIdentifyTest, ShortAnswersFillOnlyWhatWasReturned) {
  std::vector<unsigned char> full = AtaIdentify("SERIAL0123456789ABCD", "REV1", "MODEL");
  // Words 0-14: half the serial, nothing of revision or model. The copy is exactly as long as
  // the answer, so reading past it is caught by the address sanitizer.
  std::vector<unsigned char> cut(full.begin(), full.begin() + 30);
  Fields f = FromAta(cut);
  EXPECT_EQ(f.serial, "SERIAL0123");
  EXPECT_EQ(f.revision, "");
  EXPECT_EQ(f.model, "");
  EXPECT_TRUE(f.verdict);
  // An odd length leaves out the half word.
  std::vector<unsigned char> odd(full.begin(), full.begin() + 23);
  EXPECT_EQ(FromAta(odd).serial, "SE");

  char buffer[kDiskBufferSize] = {};
  EXPECT_FALSE(FillFromAtaIdentify(nullptr, 512, buffer));
  EXPECT_STREQ(SerialField(buffer), "");
}

TEST(AtaIdentifyTest, IdentityIsTrimmedSerialAndModel) {
  std::string identity = "stale";
  CannedAtaReader reader(AtaIdentify("    S123456789ABCDEF", "FW", "Samsung SSD"));
  reader.getCode(identity, 0);
  EXPECT_EQ(identity, "S123456789ABCDEF;Samsung SSD");

  CannedAtaReader refused(AtaIdentify("", "FW", "Samsung SSD"));
  refused.getCode(identity, 0);
  EXPECT_EQ(identity, "");
}

TEST(NvmeIdentifyTest, FieldsAreStoredInOrder) {
  std::vector<unsigned char> data = NvmeIdentify("S4EWNX0N123456", "Samsung SSD 970", "2B2QEXM7");
  char buffer[kDiskBufferSize] = {};
  EXPECT_TRUE(FillFromNvmeIdentify(data.data(), data.size(), buffer));
  EXPECT_STREQ(SerialField(buffer), "S4EWNX0N123456");
  EXPECT_STREQ(ModelField(buffer), "Samsung SSD 970");
  EXPECT_STREQ(RevisionField(buffer), "2B2QEXM7");

  std::vector<unsigned char> cut(data.begin(), data.begin() + 30);
  char short_buffer[kDiskBufferSize] = {};
  EXPECT_TRUE(FillFromNvmeIdentify(cut.data(), cut.size(), short_buffer));
  EXPECT_STREQ(SerialField(short_buffer), "S4EWNX0N123456");
  EXPECT_STREQ(ModelField(short_buffer), "Samsun");
  EXPECT_STREQ(RevisionField(short_buffer), "");
}

TEST(DescriptorTextTest, HexadecimalTextIsDecodedAndTrimmed) {
  // "  WD-WMA" spelled in hexadecimal, in either case.
  EXPECT_EQ(DecodeDescriptorText("202057442d574d41"), "WD-WMA");
  EXPECT_EQ(DecodeDescriptorText("202057442D574D41"), "WD-WMA");
  // White space counts as the digit 0; a zero byte ends the text.
  EXPECT_EQ(DecodeDescriptorText("4142 04344"), "AB");
}

TEST(DescriptorTextTest, OtherTextIsKeptAsItIs) {
  EXPECT_EQ(DecodeDescriptorText("4G41"), "4G41");      // not a hexadecimal digit
  EXPECT_EQ(DecodeDescriptorText("0141"), "0141");      // 0x01 is not printable
  EXPECT_EQ(DecodeDescriptorText("  Samsung SSD  "), "Samsung SSD");
  EXPECT_EQ(DecodeDescriptorText("AB\x01" "C"), "");    // unprintable: field empty
  EXPECT_EQ(DecodeDescriptorText("Caf\xC3\xA9"), "");   // bytes above ASCII too
  EXPECT_EQ(DecodeDescriptorText(""), "");
}

TEST(DescriptorTextTest, TextKeepsItsOrderAndOddLength) {
  EXPECT_EQ(DecodeDescriptorText("ABCDE"), "ABCDE");
  EXPECT_EQ(DecodeDescriptorText("ABCD"), "ABCD");
  EXPECT_EQ(DecodeDescriptorText("13766312122814546"), "13766312122814546");
}

TEST(MountInfoTest, FindsTheSourceOfADeviceNumber) {
  const std::string table =
      "22 26 0:21 / /sys rw,relatime - sysfs sysfs rw\n"
      "26 1 0:25 /@ / rw,relatime shared:1 - btrfs /dev/nvme0n1p2 rw,ssd\n"
      "27 26 0:26 / /tmp rw - tmpfs tmpfs rw\n";
  EXPECT_EQ(MountSourceFor(table, 0, 25), "/dev/nvme0n1p2");
  EXPECT_EQ(MountSourceFor(table, 0, 26), "tmpfs");
  EXPECT_EQ(MountSourceFor(table, 8, 1), "");
}

// A canned sysfs tree with the disk that holds a real file (the test's own folder) and its
// partition, a second disk, a loop device and a virtual one; a udev database for the first.
class DiskTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st;
    ASSERT_EQ(stat(tree.root().c_str(), &st), 0);
    rootMajor = major(st.st_dev);
    rootMinor = minor(st.st_dev);
    if (rootMajor == 0) GTEST_SKIP() << "the temporary folder lies on no block device";
    const std::string numbers = std::to_string(rootMajor) + ":" + std::to_string(rootMinor);
    const std::string disk = "sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sdz";
    tree.File(disk + "/dev", std::to_string(rootMajor) + ":" + std::to_string(rootMinor + 100) +
                                 "\n");
    tree.Dir(disk + "/device");
    tree.File(disk + "/sdz2/dev", numbers + "\n");
    tree.File(disk + "/sdz2/partition", "2\n");
    tree.Link("sys/class/block/sdz", disk);
    tree.Link("sys/class/block/sdz2", disk + "/sdz2");
    tree.Link("sys/block/sdz", disk);
    tree.Link("sys/dev/block/" + numbers, disk + "/sdz2");

    const std::string second = "sys/devices/pci0000:00/0000:00:04.0/virtio3/block/vdb";
    tree.File(second + "/dev", "252:16\n");
    tree.File(second + "/serial", "13766312122814546");
    tree.Dir(second + "/device");
    tree.Link("sys/class/block/vdb", second);
    tree.Link("sys/block/vdb", second);

    const std::string loop = "sys/devices/virtual/block/loop0";
    tree.File(loop + "/dev", "7:0\n");
    tree.Link("sys/class/block/loop0", loop);
    tree.Link("sys/block/loop0", loop);

    sources.sysRoot = tree.Path("sys");
    sources.devRoot = tree.Path("dev");
    sources.udevDataDir = tree.Path("udev");
    sources.mountInfo = tree.Path("mountinfo");
    sources.rootPath = tree.root();
    sources.queryLimit = std::chrono::milliseconds(500);
  }

  std::string Identity(HardDiskCode& reader, int drive = 0) {
    std::string identity = "stale";
    reader.getCode(identity, drive);
    return identity;
  }

  CannedTree tree;
  DiskSources sources;
  unsigned rootMajor = 0, rootMinor = 0;
  const std::string diskDir = "sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sdz";
};

TEST_F(DiskTreeTest, TheDiskHoldingTheRootComesFirst) {
  std::vector<DiskLocation> disks = ListDisks(sources);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "sdz");
  EXPECT_EQ(disks[0].devNode, sources.devRoot + "/sdz");
  EXPECT_EQ(disks[0].major, rootMajor);
  EXPECT_EQ(disks[0].minor, rootMinor + 100);
  EXPECT_EQ(disks[1].name, "vdb");
  EXPECT_EQ(disks[1].major, 252u);
}

TEST_F(DiskTreeTest, AMappedDeviceIsFollowedToItsMember) {
  // The root's numbers now belong to a device-mapper volume on the second disk.
  const std::string numbers = std::to_string(rootMajor) + ":" + std::to_string(rootMinor);
  const std::string dm = "sys/devices/virtual/block/dm-0";
  tree.File(dm + "/dev", numbers + "\n");
  tree.Link("sys/class/block/dm-0", dm);
  tree.Link(dm + "/slaves/vdb", "sys/devices/pci0000:00/0000:00:04.0/virtio3/block/vdb");
  boost::filesystem::remove(tree.Path("sys/dev/block/" + numbers));
  tree.Link("sys/dev/block/" + numbers, dm);
  std::vector<DiskLocation> disks = ListDisks(sources);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "vdb");
  EXPECT_EQ(disks[1].name, "sdz");
}

TEST_F(DiskTreeTest, ARootOnAVirtualDeviceLeavesThePhysicalDisks) {
  const std::string numbers = std::to_string(rootMajor) + ":" + std::to_string(rootMinor);
  boost::filesystem::remove(tree.Path("sys/dev/block/" + numbers));
  tree.Link("sys/dev/block/" + numbers, "sys/devices/virtual/block/loop0");
  std::vector<DiskLocation> disks = ListDisks(sources);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "sdz");
  EXPECT_EQ(disks[1].name, "vdb");
}

TEST_F(DiskTreeTest, SysfsReaderTakesModelRevisionAndSerialInOrder) {
  // A SATA disk: the serial comes from the unit serial number page.
  tree.File(diskDir + "/device/model", "Samsung SSD 860 \n");
  tree.File(diskDir + "/device/rev", "4B6Q\n");
  tree.File(diskDir + "/device/vpd_pg80", std::string("\x00\x80\x00\x0f", 4) + "S3Z1NB0K123456X");
  HardDiskSN_ZeroRights reader(sources);
  char buffer[kDiskBufferSize] = {};
  ASSERT_TRUE(reader.readSerial(0, buffer));
  EXPECT_STREQ(SerialField(buffer), "S3Z1NB0K123456X");
  EXPECT_STREQ(ModelField(buffer), "Samsung SSD 860");
  EXPECT_STREQ(RevisionField(buffer), "4B6Q");
  EXPECT_EQ(Identity(reader), "S3Z1NB0K123456X;Samsung SSD 860");
  // The second disk (a virtio disk: its serial only, no model).
  EXPECT_EQ(Identity(reader, 1), "13766312122814546;");
  EXPECT_EQ(Identity(reader, 2), "");
}

TEST_F(DiskTreeTest, OneSataDiskGivesOneIdentityToEveryReader) {
  // The same disk as the device answers IDENTIFY (as root) and as sysfs and udev describe it
  // (to everyone): libata's unit serial number page holds the identify serial as the disk stores
  // it, the SCSI model is the identify model cut to 16 characters.
  struct Disk {
    std::string serial, model;
  };
  const Disk disks[] = {{"     WD-WCC4N1234567", "WDC WD10EFRX-68FYTN0"},
                        {"34563456345634563456", "Samsung SSD 860 EVO 500GB"}};
  const std::string record = "udev/b" + std::to_string(rootMajor) + ":" +
                             std::to_string(rootMinor + 100);
  for (const Disk& disk : disks) {
    CannedAtaReader device(AtaIdentify(disk.serial, "82.00A82", disk.model));
    const std::string expected = Identity(device);
    ASSERT_NE(expected, "");
    std::string encoded;
    for (char c : disk.model) encoded += c == ' ' ? std::string("\\x20") : std::string(1, c);
    tree.File(diskDir + "/device/vendor", "ATA     \n");
    tree.File(diskDir + "/device/model", disk.model.substr(0, 16) + "\n");
    tree.File(diskDir + "/device/vpd_pg80", std::string("\x00\x80\x00\x14", 4) + disk.serial);
    tree.File(record, "E:ID_ATA=1\nE:ID_MODEL_ENC=" + encoded + "\nE:ID_SERIAL_SHORT=" +
                          TrimWhiteSpace(disk.serial) + "\n");
    HardDiskSN_ZeroRights sysfs(sources);
    HardDiskSN_FakeSCSI udev(sources);
    EXPECT_EQ(Identity(sysfs), expected);
    EXPECT_EQ(Identity(udev), expected);
  }
  // Without udev's record the sysfs reader still answers, with the model it has.
  boost::filesystem::remove(tree.Path(record));
  HardDiskSN_ZeroRights sysfs(sources);
  EXPECT_EQ(Identity(sysfs), "34563456345634563456;Samsung SSD 860");
}

TEST_F(DiskTreeTest, SysfsReaderAnswersEvenWithoutASerial) {
  tree.File(diskDir + "/device/model", "ST1000DM003-1CH162\n");
  HardDiskSN_ZeroRights reader(sources);
  EXPECT_EQ(Identity(reader), ";ST1000DM003-1CH162");
  // Without sysfs the reader has nothing to go on.
  sources.sysRoot = tree.Path("nothing");
  HardDiskSN_ZeroRights blind(sources);
  EXPECT_EQ(Identity(blind), "");
}

TEST_F(DiskTreeTest, UdevReaderUsesTheDisksRecord) {
  const std::string record = "udev/b" + std::to_string(rootMajor) + ":" +
                             std::to_string(rootMinor + 100);
  tree.File(record,
            "S:disk/by-id/ata-WDC_WD10EFRX-68F_WD-WCC4N1234567\n"
            "E:ID_MODEL=WDC_WD10EFRX-68F\n"
            "E:ID_MODEL_ENC=WDC\\x20WD10EFRX-68F\\x20\\x20\n"
            "E:ID_REVISION=82.00A82\n"
            "E:ID_SERIAL=WDC_WD10EFRX-68F_WD-WCC4N1234567\n"
            "E:ID_SERIAL_SHORT=WD-WCC4N1234567\n");
  HardDiskSN_FakeSCSI reader(sources);
  char buffer[kDiskBufferSize] = {};
  ASSERT_TRUE(reader.readSerial(0, buffer));
  EXPECT_STREQ(RevisionField(buffer), "82.00A82");
  EXPECT_EQ(Identity(reader), "WD-WCC4N1234567;WDC WD10EFRX-68F");

  // Without the encoded model the plain one is used; a serial that fails the verdict refuses.
  tree.File(record, "E:ID_MODEL=QEMU_HARDDISK\nE:ID_SERIAL_SHORT=-\n");
  EXPECT_EQ(Identity(reader), "");
  tree.File(record, "E:ID_MODEL=QEMU_HARDDISK\nE:ID_SERIAL_SHORT=QM00001\n");
  EXPECT_EQ(Identity(reader), "QM00001;QEMU_HARDDISK");
  // No record for the disk at all.
  EXPECT_EQ(Identity(reader, 1), "");
}

TEST_F(DiskTreeTest, UdevReaderWorksWithoutSysfs) {
  // With no sysfs the root's own device numbers are looked up (udev keeps the disk's serial on
  // its partitions too).
  sources.sysRoot = tree.Path("nothing");
  tree.File("udev/b" + std::to_string(rootMajor) + ":" + std::to_string(rootMinor),
            "E:ID_MODEL=QEMU_HARDDISK\nE:ID_SERIAL_SHORT=QM00001\n");
  HardDiskSN_FakeSCSI reader(sources);
  EXPECT_EQ(Identity(reader), "QM00001;QEMU_HARDDISK");
}

TEST_F(DiskTreeTest, DeviceReadersRefuseWhatIsNoDisk) {
  // The device node is missing, then an ordinary file that no ioctl answers.
  HardDiskSN_AdminRights ata(sources);
  HardDiskSN_Smart nvme(sources);
  EXPECT_EQ(Identity(ata), "");
  EXPECT_EQ(Identity(nvme), "");
  tree.File("dev/sdz", std::string(4096, 'A'));
  EXPECT_EQ(Identity(ata), "");
  EXPECT_EQ(Identity(nvme), "");
}

TEST(BoundedQueryTest, AnswerInTimeIsKept) {
  std::vector<unsigned char> data;
  EXPECT_TRUE(RunBoundedQuery(
      [](std::vector<unsigned char>& bytes) {
        bytes = {1, 2, 3};
        return true;
      },
      std::chrono::milliseconds(2000), data));
  EXPECT_EQ(data, (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_FALSE(RunBoundedQuery([](std::vector<unsigned char>&) { return false; },
                               std::chrono::milliseconds(2000), data));
}

TEST(BoundedQueryTest, AQueryThatHangsIsAbandoned) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::vector<unsigned char> data = {9};
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunBoundedQuery(
      [released, finished](std::vector<unsigned char>& bytes) {
        released.wait();
        bytes = {1};
        finished->store(true);
        return true;
      },
      std::chrono::milliseconds(100), data));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(2));
  EXPECT_EQ(data, std::vector<unsigned char>{9});
  // Let the abandoned query end before the test does.
  release->set_value();
  while (!finished->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace
