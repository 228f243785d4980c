#include "platform/file_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;
using platform::FileReadStatus;

// What a file named by mistake turns out to be: each kind is refused with its reason, before
// anything is read (a FIFO without a writer would otherwise block the program).
TEST(FileRead, OnlyARegularFileOfASaneSizeIsRead) {
  test::TestHome home;
  const fs::path folder = home.root() / "folder.604";
  fs::create_directories(folder);
  const fs::path fifo = home.root() / "fifo.604";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path big = home.root() / "big.604";
  std::ofstream(big).close();
  fs::resize_file(big, platform::kLargestInputFile + 1);  // sparse: costs no disk
  const fs::path good = home.root() / "good.604";
  std::ofstream(good, std::ios::binary) << std::string("ab\0cd", 5);

  struct Case {
    fs::path path;
    FileReadStatus status;
    const char* reason;
  } cases[] = {
      {folder, FileReadStatus::Folder, "папка"},
      {fifo, FileReadStatus::NotRegular, "не обычный файл"},
      {"/dev/null", FileReadStatus::NotRegular, "не обычный файл"},
      {big, FileReadStatus::TooLarge, "64 МиБ"},
      {home.root() / "none.604", FileReadStatus::Missing, ""},
  };
  for (const Case& c : cases) {
    std::string bytes = "stale";
    const platform::FileRead r = platform::read_regular_file(c.path, bytes);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_FALSE(r.reason.empty()) << c.path;
    EXPECT_TRUE(bytes.empty()) << c.path;
  }
  std::string bytes;
  EXPECT_TRUE(platform::read_regular_file(good, bytes).ok());
  EXPECT_EQ(bytes, std::string("ab\0cd", 5));
  // A smaller limit of the caller's own.
  EXPECT_EQ(platform::read_regular_file(good, bytes, 4).status, FileReadStatus::TooLarge);

  EXPECT_EQ(platform::unwritable_kind(folder), "это папка, а не файл");
  EXPECT_FALSE(platform::unwritable_kind(fifo).empty());
  EXPECT_FALSE(platform::unwritable_kind("/dev/null").empty());
  EXPECT_TRUE(platform::unwritable_kind(good).empty());
  EXPECT_TRUE(platform::unwritable_kind(home.root() / "new.604").empty());
}

// Another program shortens the file while it is read: what was read is no file and is dropped.
TEST(FileRead, FileCutShortWhileReadIsNotTakenForAWholeOne) {
  test::TestHome home;
  const fs::path file = home.root() / "cut.604";
  std::ofstream(file, std::ios::binary) << std::string(100000, 'x');
  platform::set_file_read_hook([](const fs::path& p) { fs::resize_file(p, 1000); });
  std::string bytes;
  const platform::FileRead r = platform::read_regular_file(file, bytes);
  platform::set_file_read_hook({});
  EXPECT_EQ(r.status, FileReadStatus::CutShort);
  EXPECT_NE(r.reason.find("укорочен"), std::string::npos);
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(platform::read_regular_file(file, bytes).ok());
  EXPECT_EQ(bytes.size(), 1000u);
}

}  // namespace
}  // namespace kba604
