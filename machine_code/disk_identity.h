// Reading the first disk's serial number and model. Four readers are tried in turn: the first
// and third ask the device itself (ATA IDENTIFY through SG_IO, NVMe Identify Controller), which
// needs the right to open it for writing; the second and fourth read what the kernel and udev
// already know (sysfs, the udev database), which needs no rights at all.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Where the readers look. Every path is a root so that tests can point them at canned trees.
struct DiskSources {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
  std::string udevDataDir = "/run/udev/data";
  std::string mountInfo = "/proc/self/mountinfo";
  std::string rootPath = "/";  // the disk holding this path comes first
  // No single device query may take longer than this.
  std::chrono::milliseconds queryLimit{3000};
};

// One disk as the kernel names it.
struct DiskLocation {
  std::string name;     // "sda", "nvme0n1", "vda"
  std::string devNode;  // devRoot + "/" + name
  unsigned major = 0;
  unsigned minor = 0;
};

// The disks in reading order: the disk that holds |rootPath| first (a partition, device-mapper
// or RAID device is followed down to the disk beneath it), then every other disk that has a
// device behind it, by name. Virtual block devices (loop, zram, ram, dm) are never listed, not
// even when they hold the root. Without sysfs, the root's own device numbers are the one entry.
std::vector<DiskLocation> ListDisks(const DiskSources& sources);
// The source device of the mount with device numbers |major|:|minor| in a mount table
// (/proc/self/mountinfo text); empty when there is none.
std::string MountSourceFor(const std::string& mountInfoText, unsigned major, unsigned minor);

// The reader buffer: three NUL-terminated fields, zero-filled before a reader runs.
constexpr std::size_t kDiskFieldSize = 256;
constexpr std::size_t kDiskBufferSize = 3 * kDiskFieldSize;
inline char* SerialField(char* buffer) { return buffer; }
inline char* ModelField(char* buffer) { return buffer + kDiskFieldSize; }
inline char* RevisionField(char* buffer) { return buffer + 2 * kDiskFieldSize; }
inline const char* SerialField(const char* buffer) { return buffer; }
inline const char* ModelField(const char* buffer) { return buffer + kDiskFieldSize; }
inline const char* RevisionField(const char* buffer) { return buffer + 2 * kDiskFieldSize; }

// ATA IDENTIFY data (256 little-endian words, |length| bytes of it actually returned): fills the
// three fields from words 10-19, 27-46 and 23-26, each word high byte first, and returns the
// verdict: the serial's first or twentieth character is a letter or a digit. A field that lies
// beyond the returned bytes stays empty.
bool FillFromAtaIdentify(const unsigned char* data, std::size_t length, char* buffer);
// NVMe Identify Controller data: serial bytes 4-23, model 24-63, firmware 64-71, as stored (no
// swapping); same verdict.
bool FillFromNvmeIdentify(const unsigned char* data, std::size_t length, char* buffer);

// A model or revision text of the kernel's description of a disk, decoded the way a storage
// descriptor's texts are: hexadecimal text is turned into the bytes it spells, otherwise
// printable text is kept as it is (and anything unprintable empties the field); leading and
// trailing white space is cut.
std::string DecodeDescriptorText(const std::string& text);

// Runs |query| on a thread of its own and waits for it at most |limit|. A query that overruns is
// left to finish by itself and its answer is dropped, so a device that does not answer cannot
// hold up the caller. |data| receives the query's bytes only when it answered in time and true.
bool RunBoundedQuery(const std::function<bool(std::vector<unsigned char>&)>& query,
                     std::chrono::milliseconds limit, std::vector<unsigned char>& data);

class HardDiskCode {
 public:
  explicit HardDiskCode(const DiskSources& sources) : sources_(sources) {}
  virtual ~HardDiskCode() = default;
  // Fills the zero-filled reader buffer for disk |drive| (0 is the first disk); true on success.
  virtual bool readSerial(int drive, char* buffer) = 0;
  // Empty, or trimmed serial + ";" + trimmed model when the reader succeeded.
  virtual void getCode(std::string& out, int drive);

 protected:
  // The disk numbered |drive| in reading order; false when there is none.
  bool Locate(int drive, DiskLocation& disk) const;
  const DiskSources sources_;
};

// ATA IDENTIFY DEVICE through SG_IO (ATA PASS-THROUGH), the device opened for reading and writing.
class HardDiskSN_AdminRights : public HardDiskCode {
 public:
  using HardDiskCode::HardDiskCode;
  bool readSerial(int drive, char* buffer) override;
};

// The kernel's description in sysfs; needs no rights. Succeeds whenever the disk is known there,
// whatever its texts are. Its serial and model are the ones the device reader would find (for
// an ATA disk the model comes from the udev database), so one disk gives one identity whether
// or not the program may open the device.
class HardDiskSN_ZeroRights : public HardDiskCode {
 public:
  using HardDiskCode::HardDiskCode;
  bool readSerial(int drive, char* buffer) override;
};

// NVMe Identify Controller through the admin command ioctl, the device opened for reading and
// writing.
class HardDiskSN_Smart : public HardDiskCode {
 public:
  using HardDiskCode::HardDiskCode;
  bool readSerial(int drive, char* buffer) override;
};

// The udev database's record of the disk; needs no rights. Succeeds on the same verdict as the
// device readers.
class HardDiskSN_FakeSCSI : public HardDiskCode {
 public:
  using HardDiskCode::HardDiskCode;
  bool readSerial(int drive, char* buffer) override;
};
