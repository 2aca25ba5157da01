// The answer document as the last save left it. A save of one answer would otherwise read and
// parse the whole file again; the kept tree is only used while the file on disk is still the
// very file that save wrote, so a change made from outside is read afresh. Stamps alone cannot
// tell: the kept version was always stamped within the last tick, and where stamps are coarse
// (whole seconds, FAT's two) a rewrite of the same size in that tick leaves every stamp as it
// was. So a file whose stamps match is also compared with the bytes the save wrote; that costs a
// read, not the parse.
#pragma once

#include <libxml/tree.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <string>

struct XmlDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// One version of a file on disk: any write, replacement or attribute change gives another.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
};
bool SameFileVersion(const FileIdentity& a, const FileIdentity& b);
// False when |path| cannot be read with stat.
bool ReadFileIdentity(const std::string& path, FileIdentity& out);
FileIdentity IdentityOf(const struct stat& st);

class AnswerDocumentCache {
 public:
  // The kept tree of |path| when |current| is still the version it was kept for, else null.
  // Either way nothing stays kept: the caller owns the tree, edits it and hands it back with
  // Keep once the edited tree is safely on disk.
  XmlDocPtr Take(const std::string& path, const FileIdentity& current);
  // Keeps |doc|, written as |text|, as the tree of version |written| of |path|, replacing what
  // was kept.
  void Keep(const std::string& path, const FileIdentity& written, std::string text,
            XmlDocPtr doc);

 private:
  // Guards the kept slot only; never held across file work or the freeing of a tree.
  std::mutex slotLock_;
  std::string path_;
  FileIdentity identity_;
  std::string text_;
  XmlDocPtr doc_;
};

// Serialises |doc| once and puts it at |path| in |folder| atomically and durably; on success
// the tree is kept for the next save when the file on disk is known to be exactly what was
// written. False when the document could not be written (the file is then unchanged).
bool SaveAnswerDocument(XmlDocPtr doc, const std::string& folder, const std::string& path);

// The process's one cache; the callers use it under the answer lock, so that the version they
// check is the version they then read or write.
AnswerDocumentCache& KeptAnswerDocument();
