// Canned file trees for the readers: a fresh temporary folder, files and links made in it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

class CannedTree {
 public:
  CannedTree() {
    std::string pattern = "/tmp/qwcanned-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
  }
  ~CannedTree() {
    boost::system::error_code ec;
    boost::filesystem::remove_all(root_, ec);
  }
  CannedTree(const CannedTree&) = delete;
  CannedTree& operator=(const CannedTree&) = delete;

  const std::string& root() const { return root_; }  // no trailing "/"
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void File(const std::string& relative, const std::string& content) const {
    boost::filesystem::create_directories(boost::filesystem::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << content;
  }
  void Dir(const std::string& relative) const {
    boost::filesystem::create_directories(Path(relative));
  }
  // A symbolic link at |relative| to the tree's own |target|, written relative as sysfs does.
  void Link(const std::string& relative, const std::string& target) const {
    boost::filesystem::create_directories(boost::filesystem::path(Path(relative)).parent_path());
    boost::filesystem::path rel = boost::filesystem::relative(
        Path(target), boost::filesystem::path(Path(relative)).parent_path());
    boost::filesystem::create_directory_symlink(rel, Path(relative));
  }

 private:
  std::string root_;
};
