#include "machine_code/machine_code.h"

#include <mbedtls/base64.h>
#include <mbedtls/md5.h>
#include <mbedtls/sha256.h>

#include <memory>
#include <vector>

#include "machine_code/network_adapter.h"
#include "shell/core/helpers.h"

namespace {
const char kSalt[] = "tovrelk";
}  // namespace

std::string encodeMachineCode(const std::string& identity, char kind) {
  const std::string salted = identity + kSalt;
  std::vector<unsigned char> block(32, 0);
  block.insert(block.end(), salted.begin(), salted.end());
  unsigned char digest[32] = {};
  for (int round = 0; round < 16; ++round) {
    if (mbedtls_sha256_ret(block.data(), block.size(), digest, 0) != 0) return "";
    std::copy(digest, digest + 32, block.begin());
  }
  unsigned char hashed[19] = {};  // MD5, then three zero bytes
  if (mbedtls_md5_ret(digest, sizeof digest, hashed) != 0) return "";
  unsigned char encoded[29] = {};
  std::size_t written = 0;
  if (mbedtls_base64_encode(encoded, sizeof encoded, &written, hashed, sizeof hashed) != 0 ||
      written != 28)
    return "";
  std::string code(reinterpret_cast<const char*>(encoded), written);
  code[26] = kind;
  return code;
}

std::string computeMachineCode(const MachineSources& sources) {
  std::unique_ptr<HardDiskCode> readers[] = {
      std::make_unique<HardDiskSN_AdminRights>(sources.disk),
      std::make_unique<HardDiskSN_ZeroRights>(sources.disk),
      std::make_unique<HardDiskSN_Smart>(sources.disk),
      std::make_unique<HardDiskSN_FakeSCSI>(sources.disk),
  };
  std::string identity;
  for (auto& reader : readers) {
    reader->getCode(identity, 0);
    if (!identity.empty()) return encodeMachineCode(identity, 'H');
  }
  NetworkAdapterCode(sources.disk.sysRoot, sources.routeTablePath).getCode(identity);
  return identity.empty() ? std::string() : encodeMachineCode(identity, 'N');
}

std::string computeMachineCode() { return computeMachineCode(MachineSources()); }

int WriteMachineCodeA(const std::string& code, char* buffer, int* length) {
  if (!buffer || !length || code.empty()) return 0;
  std::copy(code.begin(), code.end(), buffer);
  *length = static_cast<int>(code.size());
  return 1;
}

int WriteMachineCodeW(const std::wstring& code, wchar_t* buffer, int* length) {
  if (!buffer || !length || code.empty()) return 0;
  std::copy(code.begin(), code.end(), buffer);
  *length = static_cast<int>(code.size());
  return 1;
}

int getMachineCodeA(char* buffer, int* length) {
  if (!buffer || !length) return 0;  // nothing to compute for
  return WriteMachineCodeA(computeMachineCode(), buffer, length);
}

int getMachineCodeW(wchar_t* buffer, int* length) {
  if (!buffer || !length) return 0;
  return WriteMachineCodeW(NarrowToWide(computeMachineCode()), buffer, length);
}
