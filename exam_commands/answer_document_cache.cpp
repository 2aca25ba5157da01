#include "exam_commands/answer_document_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "exam_commands/answer_xml_text.h"
#include "exam_commands/session_names.h"
#include "shell/core/helpers.h"

namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Puts |size| bytes at |path| so that a crash or power cut at any moment leaves either the old
// file or the new one: a temporary file in the same folder, flushed to disk, renamed over it,
// and the folder flushed so that the rename itself survives. |written| is set to the version
// now at |path| when it is certainly the file written here (renaming changes the change time,
// so the file is looked at again afterwards); |identified| says whether it could be.
bool ReplaceFile(const std::string& folder, const std::string& path, const char* data,
                 std::size_t size, FileIdentity& written, bool& identified) {
  identified = false;
  std::string temp = folder + kAnswerTemp;
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat before;
  bool ok = WriteAll(fd, data, size) && fsync(fd) == 0 && fstat(fd, &before) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  FileIdentity wrote = IdentityOf(before);
  identified = ReadFileIdentity(path, written) && written.device == wrote.device &&
               written.inode == wrote.inode && written.size == wrote.size &&
               SameTime(written.modified, wrote.modified);
  return true;
}

}  // namespace

bool SameFileVersion(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified = st.st_mtim;
  id.changed = st.st_ctim;
  return id;
}

bool ReadFileIdentity(const std::string& path, FileIdentity& out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  out = IdentityOf(st);
  return true;
}

XmlDocPtr AnswerDocumentCache::Take(const std::string& path, const FileIdentity& current) {
  XmlDocPtr kept;
  std::string text;
  bool same = false;
  {
    std::lock_guard<std::mutex> lock(slotLock_);
    same = doc_ && path_ == path && SameFileVersion(identity_, current);
    kept = std::move(doc_);
    text.swap(text_);
    path_.clear();
  }
  if (same) same = ReadWholeFile(path) == text;
  if (!same) kept.reset();
  return kept;
}

void AnswerDocumentCache::Keep(const std::string& path, const FileIdentity& written,
                               std::string text, XmlDocPtr doc) {
  XmlDocPtr old;
  {
    std::lock_guard<std::mutex> lock(slotLock_);
    old = std::move(doc_);
    path_ = path;
    identity_ = written;
    text_ = std::move(text);
    doc_ = std::move(doc);
  }
}

AnswerDocumentCache& KeptAnswerDocument() {
  static AnswerDocumentCache cache;
  return cache;
}

bool SaveAnswerDocument(XmlDocPtr doc, const std::string& folder, const std::string& path) {
  std::string text;
  if (!WriteAnswerXml(doc.get(), text)) {
    xmlChar* dumped = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &dumped, &size, "utf-8", 0);
    if (!dumped) return false;
    text.assign(reinterpret_cast<const char*>(dumped), static_cast<std::size_t>(size));
    xmlFree(dumped);
  }
  FileIdentity written;
  bool identified = false;
  bool ok = ReplaceFile(folder, path, text.data(), text.size(), written, identified);
  if (ok && identified) KeptAnswerDocument().Keep(path, written, std::move(text), std::move(doc));
  return ok;
}

