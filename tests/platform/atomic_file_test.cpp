#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "support/test_home.h"

namespace kba604::platform {
namespace {

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::size_t entries(const std::filesystem::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

class AtomicFile : public ::testing::Test {
 protected:
  void TearDown() override { set_atomic_write_fault({}); }
  test::TestHome home_;
  std::filesystem::path dir_ = home_.root() / "files";
  std::filesystem::path file_ = dir_ / "config.604";
  void SetUp() override { std::filesystem::create_directories(dir_); }
};

TEST_F(AtomicFile, NewFileAppearsWithItsContent) {
  std::string content("KBA\0\xff\n", 6);
  ASSERT_TRUE(write_file_atomically(file_, content));
  EXPECT_EQ(read_file(file_), content);
  EXPECT_EQ(entries(dir_), 1u);
}

TEST_F(AtomicFile, ReplacementKeepsPermissionsOfTheOldFile) {
  ASSERT_TRUE(write_file_atomically(file_, "old"));
  ::chmod(file_.c_str(), 0640);
  ASSERT_TRUE(write_file_atomically(file_, "new content"));
  EXPECT_EQ(read_file(file_), "new content");
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(AtomicFile, InterruptedSaveLeavesTheOldFileWhole) {
  ASSERT_TRUE(write_file_atomically(file_, "old configuration"));
  std::filesystem::path seen;
  set_atomic_write_fault([&](const std::filesystem::path& target) {
    seen = target;
    return false;
  });
  std::string error;
  EXPECT_FALSE(write_file_atomically(file_, std::string(100000, 'x'), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(seen, file_);
  EXPECT_EQ(read_file(file_), "old configuration");
  EXPECT_EQ(entries(dir_), 1u);  // no temporary file left behind
}

TEST_F(AtomicFile, WriterDroppedBeforeCommitChangesNothing) {
  ASSERT_TRUE(write_file_atomically(file_, "old"));
  {
    AtomicFileWriter w(file_);
    ASSERT_TRUE(w.ok());
    EXPECT_TRUE(std::filesystem::exists(w.temp_path()));
    EXPECT_EQ(w.temp_path().parent_path(), dir_);
    w.write("half of the");
  }
  EXPECT_EQ(read_file(file_), "old");
  EXPECT_EQ(entries(dir_), 1u);
}

TEST_F(AtomicFile, MissingFolderFailsCleanly) {
  std::string error;
  EXPECT_FALSE(write_file_atomically(dir_ / "no" / "such.604", "x", &error));
  EXPECT_NE(error.find("временный файл"), std::string::npos) << error;
}

TEST_F(AtomicFile, LinkedFileIsReplacedBehindTheLink) {
  ASSERT_TRUE(write_file_atomically(file_, "old"));
  std::filesystem::path link = dir_ / "link.604";
  std::filesystem::create_symlink(file_, link);
  ASSERT_TRUE(write_file_atomically(link, "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_file(file_), "new");
}

TEST_F(AtomicFile, FileWrittenByNameIsCommittedToo) {
  AtomicFileWriter w(file_);
  { std::ofstream(w.temp_path(), std::ios::binary) << "written by another library"; }
  ASSERT_TRUE(w.commit());
  EXPECT_EQ(read_file(file_), "written by another library");
}

}  // namespace
}  // namespace kba604::platform
