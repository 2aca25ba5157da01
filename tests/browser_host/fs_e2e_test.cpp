// cef.fs on real files, from a real page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "browser_host/kvb_api.h"
#include "browser_host/page_fs.h"
#include "tests/browser_host/e2e_support.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(PageFiles, TextFilesFoldersAndTheirFailures) {
  std::string d = E2E::TempDir() + "fs/";
  mkdir(d.c_str(), 0755);
  E2E::WriteFile("fs/sub.txt", std::string("x\x1Ay\r\nz", 6));
  E2E::WriteFile("fs/bom.txt", "\xEF\xBB\xBFhi");
  mkdir((d + "full").c_str(), 0755);
  E2E::WriteFile("fs/full/inside", "1");
  mkdir((d + "empty").c_str(), 0755);
  std::string big = d + "big.bin";
  {
    std::ofstream(big, std::ios::binary).put('x');
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(page_fs::kMaxReadBytes) + 1), 0);
  }
  std::string script =
      "var d='" + d +
      "';var r={};function t(k,f){try{r[k]=f();}catch(e){r[k]='throw:'+e.message;}}"
      "t('write',function(){return cef.fs.writeAll(d+'w.txt','a\\nb\\u0000c');});"
      "t('read',function(){return cef.fs.readAll(d+'w.txt');});"
      "t('sub',function(){return cef.fs.readAll(d+'sub.txt');});"
      "t('bom',function(){return cef.fs.readAll(d+'bom.txt').charCodeAt(0);});"
      "t('readDir',function(){return cef.fs.readAll(d+'full');});"
      "t('readMissing',function(){return cef.fs.readAll(d+'missing');});"
      "t('readBig',function(){return cef.fs.readAll(d+'big.bin');});"
      "t('writeBad',function(){return cef.fs.writeAll(d+'nofolder/x','1');});"
      "t('fileExists',function(){return cef.fs.fileExists(d+'w.txt');});"
      "t('fileExistsDir',function(){return cef.fs.fileExists(d+'full');});"
      "t('dirExists',function(){return cef.fs.dirExists(d+'full');});"
      "t('dirExistsSlash',function(){return cef.fs.dirExists(d+'full/');});"
      "t('dirExistsWild',function(){return cef.fs.dirExists(d+'fu*');});"
      "t('dirExistsFile',function(){return cef.fs.dirExists(d+'w.txt');});"
      "t('createNew',function(){return cef.fs.createDir(d+'made');});"
      "t('createExisting',function(){return cef.fs.createDir(d+'full');});"
      "t('createOnFile',function(){return cef.fs.createDir(d+'w.txt');});"
      "t('createNoParent',function(){return cef.fs.createDir(d+'no/parent');});"
      "t('deleteEmpty',function(){return cef.fs.deleteDir(d+'empty');});"
      "t('deleteFull',function(){return cef.fs.deleteDir(d+'full');});"
      "t('deleteFile',function(){return cef.fs.deleteDir(d+'w.txt');});"
      "t('badArgs',function(){return cef.fs.readAll(5);});"
      "t('noArgs',function(){return cef.fs.fileExists();});"
      "report(r);";
  std::string url =
      "file://" + E2E::WriteFile("fs.html", std::string("<html><body>") + kPageHelpers +
                                                "<script>" + script + "</script></body></html>");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    KVBCloseCEFMainBrowser();
  });
  Json::Value r = E2E::LastReport();
  EXPECT_TRUE(r["write"].isNull());  // undefined
  EXPECT_EQ(ReadBytes(d + "w.txt"), "a\r\nb");
  EXPECT_EQ(r["read"].asString(), "a\nb");
  EXPECT_EQ(r["sub"].asString(), std::string("x\x1Ay\nz", 5));
  EXPECT_EQ(r["bom"].asInt(), 0xFEFF);
  EXPECT_EQ(r["readDir"].asString(), "throw:Failed to read file " + d + "full");
  EXPECT_EQ(r["readMissing"].asString(), "throw:Failed to read file " + d + "missing");
  EXPECT_EQ(r["readBig"].asString(), "throw:Failed to read file " + d + "big.bin");
  EXPECT_EQ(r["writeBad"].asString(), "throw:Failed to write file " + d + "nofolder/x");
  EXPECT_TRUE(r["fileExists"].asBool());
  EXPECT_FALSE(r["fileExistsDir"].asBool());
  EXPECT_TRUE(r["dirExists"].asBool());
  EXPECT_TRUE(r["dirExistsSlash"].asBool());
  EXPECT_FALSE(r["dirExistsWild"].asBool());
  EXPECT_FALSE(r["dirExistsFile"].asBool());
  EXPECT_TRUE(r["createNew"].asBool());
  struct stat st;
  EXPECT_TRUE(stat((d + "made").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  EXPECT_TRUE(r["createExisting"].asBool());
  EXPECT_FALSE(r["createOnFile"].asBool());
  EXPECT_FALSE(r["createNoParent"].asBool());
  EXPECT_TRUE(r["deleteEmpty"].asBool());
  EXPECT_NE(stat((d + "empty").c_str(), &st), 0);
  EXPECT_FALSE(r["deleteFull"].asBool());
  EXPECT_EQ(stat((d + "full/inside").c_str(), &st), 0);
  EXPECT_FALSE(r["deleteFile"].asBool());
  EXPECT_EQ(r["badArgs"].asString(), "throw:Invalid method arguments");
  EXPECT_EQ(r["noArgs"].asString(), "throw:Invalid method arguments");
}

TEST(PageFiles, FifosAndDevicesNeverHoldThePage) {
  std::string fifo = E2E::TempDir() + "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string made = E2E::TempDir() + "made-by-write.txt";
  std::string script =
      "var r={};function t(k,f){try{r[k]=f();}catch(e){r[k]='throw:'+e.message;}}"
      "t('exists',function(){return cef.fs.fileExists('" +
      fifo +
      "');});"
      "t('read',function(){return cef.fs.readAll('" +
      fifo +
      "');});"
      "t('write',function(){return cef.fs.writeAll('" +
      fifo +
      "','x');});"
      "t('nullExists',function(){return cef.fs.fileExists('/dev/null');});"
      "t('readZero',function(){return cef.fs.readAll('/dev/zero');});"
      "t('writeNull',function(){return cef.fs.writeAll('/dev/null','x');});"
      "t('writeMissing',function(){return cef.fs.writeAll('" +
      made +
      "','new');});"
      "report(r);";
  std::string url =
      "file://" + E2E::WriteFile("fifo.html", std::string("<html><body>") + kPageHelpers +
                                                  "<script>" + script + "</script></body></html>");
  E2E::Run(url, [fifo] {
    bool reported = E2E::WaitForRecord("report", 1);
    // An open that waits for the other end is let go, so a failure does not hang the suite.
    close(open(fifo.c_str(), O_RDWR | O_NONBLOCK));
    EXPECT_TRUE(reported) << "the page hung on the FIFO";
    KVBCloseCEFMainBrowser();
  });
  Json::Value r = E2E::LastReport();
  EXPECT_TRUE(r["exists"].asBool());
  EXPECT_EQ(r["read"].asString(), "throw:Failed to read file " + fifo);
  EXPECT_EQ(r["write"].asString(), "throw:Failed to write file " + fifo);
  EXPECT_TRUE(r["nullExists"].asBool());
  EXPECT_EQ(r["readZero"].asString(), "throw:Failed to read file /dev/zero");
  EXPECT_EQ(r["writeNull"].asString(), "throw:Failed to write file /dev/null");
  EXPECT_TRUE(r["writeMissing"].isNull());
  EXPECT_EQ(ReadBytes(made), "new");
}
