#include "machine_code/disk_identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "machine_code/text_rules.h"
#include "shell/core/helpers.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A sysfs attribute without the line feed the kernel ends it with.
std::string ReadAttribute(const std::string& path) {
  std::string text = ReadWholeFile(path);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string BlockDir(const DiskSources& sources, const std::string& name) {
  return sources.sysRoot + "/class/block/" + name;
}

bool ParseDevNumbers(const std::string& text, unsigned& major, unsigned& minor) {
  char tail;
  return std::sscanf(text.c_str(), "%u:%u%c", &major, &minor, &tail) >= 2;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<std::string> DirNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsVirtualName(const std::string& name) {
  static const char* const kPrefixes[] = {"loop", "ram", "zram", "dm-", "md", "nbd", "sr"};
  for (const char* prefix : kPrefixes) {
    if (name.compare(0, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

// Walks from a block device to the disk beneath it: a partition to its disk, a mapped or RAID
// device to its first member. Empty when sysfs does not know the name.
std::string UnderlyingDisk(const DiskSources& sources, std::string name) {
  if (name.empty()) return "";
  for (int depth = 0; depth < 8; ++depth) {
    const std::string dir = BlockDir(sources, name);
    if (!Exists(dir)) return "";
    if (Exists(dir + "/partition")) {
      std::string real = RealPath(dir);
      if (real.empty()) return "";
      name = BaseName(real.substr(0, real.find_last_of('/')));
      continue;
    }
    std::vector<std::string> slaves = DirNames(dir + "/slaves");
    if (!slaves.empty()) {
      name = slaves.front();
      continue;
    }
    return name;
  }
  return "";
}

DiskLocation LocationOf(const DiskSources& sources, const std::string& name) {
  DiskLocation disk;
  disk.name = name;
  disk.devNode = sources.devRoot + "/" + name;
  ParseDevNumbers(ReadAttribute(BlockDir(sources, name) + "/dev"), disk.major, disk.minor);
  return disk;
}

// The device numbers of the block device that holds |path|; file systems without one (btrfs
// subvolumes, overlays) are looked up through the mount table's source device.
bool RootDevice(const DiskSources& sources, unsigned& major, unsigned& minor) {
  struct stat st;
  if (stat(sources.rootPath.c_str(), &st) != 0) return false;
  major = ::major(st.st_dev);
  minor = ::minor(st.st_dev);
  if (major != 0) return true;
  std::string source = MountSourceFor(ReadWholeFile(sources.mountInfo), major, minor);
  struct stat dev;
  if (source.compare(0, 5, "/dev/") != 0 || stat(source.c_str(), &dev) != 0 ||
      !S_ISBLK(dev.st_mode))
    return false;
  major = ::major(dev.st_rdev);
  minor = ::minor(dev.st_rdev);
  return true;
}

// Copies |count| bytes of a text field into |field| (room for kDiskFieldSize bytes with the
// NUL), stopping at a NUL, then cuts trailing white space but never the first character.
void SetField(char* field, const unsigned char* text, std::size_t count) {
  std::size_t n = 0;
  while (n < count && n + 1 < kDiskFieldSize && text[n] != 0) {
    field[n] = static_cast<char>(text[n]);
    ++n;
  }
  while (n > 1 && IsSpaceChar(field[n - 1])) --n;
  field[n] = '\0';
}

void SetField(char* field, const std::string& text) {
  SetField(field, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// A field of ATA words, each high byte first. Only the words that lie within the returned
// |length| bytes are used.
void SetAtaField(char* field, const unsigned char* data, std::size_t length, std::size_t firstWord,
                 std::size_t words) {
  unsigned char text[kDiskFieldSize] = {};
  std::size_t n = 0;
  for (std::size_t w = firstWord; w < firstWord + words && 2 * w + 1 < length; ++w) {
    text[n++] = data[2 * w + 1];
    text[n++] = data[2 * w];
  }
  SetField(field, text, n);
}

bool SerialVerdict(const char* buffer) {
  const char* serial = SerialField(buffer);
  return IsAlnumChar(serial[0]) || (std::strlen(serial) >= 20 && IsAlnumChar(serial[19]));
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenDevice(const std::string& devNode) {
  // Non-blocking, so that opening a drive without a medium returns at once.
  return open(devNode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

unsigned TimeoutMs(std::chrono::milliseconds limit) {
  return static_cast<unsigned>(std::max<long long>(1, static_cast<long long>(limit.count())));
}

bool AtaIdentifyQuery(const std::string& devNode, std::chrono::milliseconds limit,
                      std::vector<unsigned char>& data) {
  FileHandle fd(OpenDevice(devNode));
  if (fd.get() < 0) return false;
  data.assign(512, 0);
  unsigned char cdb[16] = {};
  cdb[0] = 0x85;        // ATA PASS-THROUGH (16)
  cdb[1] = 4 << 1;      // PIO data-in
  cdb[2] = 0x0E;        // from the device, length in sectors, taken from the sector count
  cdb[6] = 1;           // one sector
  cdb[13] = 0xA0;       // device register
  cdb[14] = 0xEC;       // IDENTIFY DEVICE
  unsigned char sense[32] = {};
  sg_io_hdr_t io = {};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = sizeof cdb;
  io.cmdp = cdb;
  io.dxfer_len = static_cast<unsigned>(data.size());
  io.dxferp = data.data();
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = TimeoutMs(limit);
  if (ioctl(fd.get(), SG_IO, &io) != 0) return false;
  if (io.status != 0 || io.host_status != 0 || io.driver_status != 0) return false;
  if (io.resid < 0 || static_cast<std::size_t>(io.resid) > data.size()) return false;
  data.resize(data.size() - static_cast<std::size_t>(io.resid));
  return true;
}

bool NvmeIdentifyQuery(const std::string& devNode, std::chrono::milliseconds limit,
                       std::vector<unsigned char>& data) {
  FileHandle fd(OpenDevice(devNode));
  if (fd.get() < 0) return false;
  data.assign(4096, 0);
  nvme_admin_cmd cmd = {};
  cmd.opcode = 0x06;  // Identify
  cmd.addr = reinterpret_cast<std::uintptr_t>(data.data());
  cmd.data_len = static_cast<unsigned>(data.size());
  cmd.cdw10 = 1;  // the controller's data structure
  cmd.timeout_ms = TimeoutMs(limit);
  return ioctl(fd.get(), NVME_IOCTL_ADMIN_CMD, &cmd) == 0;
}

std::string UdevValue(const std::string& record, const std::string& key) {
  std::istringstream lines(record);
  std::string line;
  const std::string prefix = "E:" + key + "=";
  while (std::getline(lines, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return "";
}

// udev's encoded texts spell unsafe bytes (blanks among them) as \xNN.
std::string UdevDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        HexDigitValue(text[i + 2]) >= 0 && HexDigitValue(text[i + 3]) >= 0) {
      out.push_back(static_cast<char>(HexDigitValue(text[i + 2]) * 16 + HexDigitValue(text[i + 3])));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string UdevRecord(const DiskSources& sources, const DiskLocation& disk) {
  return ReadWholeFile(sources.udevDataDir + "/b" + std::to_string(disk.major) + ":" +
                       std::to_string(disk.minor));
}

// The model as udev wrote it down, blanks and all; for an ATA disk that is the identify data's
// model.
std::string UdevModel(const std::string& record) {
  std::string model = UdevDecode(UdevValue(record, "ID_MODEL_ENC"));
  return model.empty() ? UdevValue(record, "ID_MODEL") : model;
}

}  // namespace

std::string MountSourceFor(const std::string& mountInfoText, unsigned major, unsigned minor) {
  std::istringstream lines(mountInfoText);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint;
    unsigned ma = 0, mi = 0;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint)) continue;
    if (!ParseDevNumbers(numbers, ma, mi) || ma != major || mi != minor) continue;
    std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    if (tail >> type >> source) return source;
  }
  return "";
}

std::vector<DiskLocation> ListDisks(const DiskSources& sources) {
  std::vector<DiskLocation> disks;
  unsigned major = 0, minor = 0;
  std::string first;
  if (RootDevice(sources, major, minor)) {
    first = UnderlyingDisk(
        sources, BaseName(RealPath(sources.sysRoot + "/dev/block/" + std::to_string(major) + ":" +
                                   std::to_string(minor))));
    if (!first.empty()) {
      // A root on a loop or RAM disk (a live system) says nothing about the machine: the
      // physical disks below stand in for it.
      if (Exists(BlockDir(sources, first) + "/device")) disks.push_back(LocationOf(sources, first));
    } else {
      // Unknown to sysfs: the udev database still knows the device by its numbers.
      DiskLocation disk;
      disk.major = major;
      disk.minor = minor;
      disks.push_back(disk);
    }
  }
  for (const std::string& name : DirNames(sources.sysRoot + "/block")) {
    if (name == first || IsVirtualName(name) || !Exists(BlockDir(sources, name) + "/device"))
      continue;
    disks.push_back(LocationOf(sources, name));
  }
  return disks;
}

bool FillFromAtaIdentify(const unsigned char* data, std::size_t length, char* buffer) {
  if (!data) length = 0;
  SetAtaField(SerialField(buffer), data, length, 10, 10);
  SetAtaField(RevisionField(buffer), data, length, 23, 4);
  SetAtaField(ModelField(buffer), data, length, 27, 20);
  return SerialVerdict(buffer);
}

bool FillFromNvmeIdentify(const unsigned char* data, std::size_t length, char* buffer) {
  auto field = [&](char* out, std::size_t offset, std::size_t count) {
    if (!data || offset >= length) {
      out[0] = '\0';
      return;
    }
    SetField(out, data + offset, std::min(count, length - offset));
  };
  field(SerialField(buffer), 4, 20);
  field(ModelField(buffer), 24, 40);
  field(RevisionField(buffer), 64, 8);
  return SerialVerdict(buffer);
}

std::string DecodeDescriptorText(const std::string& input) {
  std::string text = input.substr(0, input.find('\0'));
  std::string result;
  bool hex = !text.empty() && text.size() % 2 == 0;
  for (std::size_t i = 0; hex && i < text.size(); i += 2) {
    int high = IsSpaceChar(text[i]) ? 0 : HexDigitValue(text[i]);
    int low = IsSpaceChar(text[i + 1]) ? 0 : HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) {
      hex = false;
      break;
    }
    int byte = high * 16 + low;
    if (byte != 0 && !IsPrintChar(static_cast<char>(byte))) {
      hex = false;
      break;
    }
    result.push_back(static_cast<char>(byte));
  }
  if (hex) {
    result = result.substr(0, result.find('\0'));
  } else {
    result = text;
    for (char c : text) {
      if (!IsPrintChar(c)) {
        result.clear();
        break;
      }
    }
  }
  return TrimWhiteSpace(result);
}

bool RunBoundedQuery(const std::function<bool(std::vector<unsigned char>&)>& query,
                     std::chrono::milliseconds limit, std::vector<unsigned char>& data) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ok = false;
    std::vector<unsigned char> bytes;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, query] {
      std::vector<unsigned char> bytes;
      bool ok = query(bytes);
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->ok = ok;
      shared->bytes.swap(bytes);
      shared->finished = true;
      shared->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;  // no thread to spare: the device is not asked
  }
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (!shared->done.wait_for(lock, limit, [&] { return shared->finished; }) || !shared->ok)
    return false;
  data.swap(shared->bytes);
  return true;
}

bool HardDiskCode::Locate(int drive, DiskLocation& disk) const {
  if (drive < 0) return false;
  std::vector<DiskLocation> disks = ListDisks(sources_);
  if (static_cast<std::size_t>(drive) >= disks.size()) return false;
  disk = disks[static_cast<std::size_t>(drive)];
  return true;
}

void HardDiskCode::getCode(std::string& out, int drive) {
  out.clear();
  char buffer[kDiskBufferSize] = {};
  if (!readSerial(drive, buffer)) return;
  // A field is NUL-terminated within its 256 bytes by every reader.
  out = TrimIdentityText(SerialField(buffer)) + ";" + TrimIdentityText(ModelField(buffer));
}

namespace {

// One identify query of the device node, bounded in time by its caller as well.
template <typename Query>
bool QueryDevice(Query query, const std::string& node, std::chrono::milliseconds limit,
                 std::vector<unsigned char>& data) {
  return RunBoundedQuery(
      [query, node, limit](std::vector<unsigned char>& bytes) { return query(node, limit, bytes); },
      limit, data);
}

}  // namespace

bool HardDiskSN_AdminRights::readSerial(int drive, char* buffer) {
  DiskLocation disk;
  if (!Locate(drive, disk) || disk.name.empty()) return false;
  std::vector<unsigned char> data;
  return QueryDevice(&AtaIdentifyQuery, disk.devNode, sources_.queryLimit, data) &&
         FillFromAtaIdentify(data.data(), data.size(), buffer);
}

bool HardDiskSN_ZeroRights::readSerial(int drive, char* buffer) {
  DiskLocation disk;
  if (!Locate(drive, disk) || disk.name.empty()) return false;
  const std::string dir = BlockDir(sources_, disk.name);
  if (!Exists(dir)) return false;
  std::string serial = ReadAttribute(dir + "/serial");                    // virtio
  if (serial.empty()) serial = ReadAttribute(dir + "/device/serial");     // NVMe, MMC
  if (serial.empty()) {
    // SCSI and SATA disks: the unit serial number page, a 4-byte header then the text.
    std::string page = ReadWholeFile(dir + "/device/vpd_pg80");
    if (page.size() > 4) {
      std::size_t length = static_cast<unsigned char>(page[3]);
      serial = page.substr(4, std::min(length, page.size() - 4));
    }
  }
  std::string revision = ReadAttribute(dir + "/device/rev");
  if (revision.empty()) revision = ReadAttribute(dir + "/device/firmware_rev");
  std::string model;
  // Behind libata, sysfs shows the SCSI product field: the identify model cut to 16
  // characters. udev keeps the whole of it, so the identity matches the device reader's.
  if (TrimWhiteSpace(ReadAttribute(dir + "/device/vendor")) == "ATA")
    model = UdevModel(UdevRecord(sources_, disk));
  if (model.empty()) model = DecodeDescriptorText(ReadAttribute(dir + "/device/model"));
  SetField(ModelField(buffer), model);
  SetField(RevisionField(buffer), DecodeDescriptorText(revision));
  // The kernel gives the serial in order and as the disk stores it; taken as it is, like the
  // device reader's, it makes the same identity whichever of the two answers.
  SetField(SerialField(buffer), serial);
  return true;
}

bool HardDiskSN_Smart::readSerial(int drive, char* buffer) {
  DiskLocation disk;
  if (!Locate(drive, disk) || disk.name.empty()) return false;
  std::vector<unsigned char> data;
  return QueryDevice(&NvmeIdentifyQuery, disk.devNode, sources_.queryLimit, data) &&
         FillFromNvmeIdentify(data.data(), data.size(), buffer);
}

bool HardDiskSN_FakeSCSI::readSerial(int drive, char* buffer) {
  DiskLocation disk;
  if (!Locate(drive, disk) || (disk.major == 0 && disk.minor == 0)) return false;
  const std::string record = UdevRecord(sources_, disk);
  if (record.empty()) return false;
  std::string serial = UdevValue(record, "ID_SERIAL_SHORT");
  if (serial.empty()) serial = UdevValue(record, "ID_SERIAL");
  SetField(SerialField(buffer), serial);
  SetField(ModelField(buffer), UdevModel(record));
  SetField(RevisionField(buffer), UdevValue(record, "ID_REVISION"));
  return SerialVerdict(buffer);
}
