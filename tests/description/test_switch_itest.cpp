// "kba604 /test" loads the description of the data folder and ends with its exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "app/exit_flags.h"
#include "platform/ini_settings_store.h"
#include "support/child_process.h"
#include "support/description_files.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// Points the program's "datadirectory" at a copy of the shipped description, damaged as asked.
fs::path shipped_copy(const test::TestHome& home) {
  fs::path folder = home.root() / "share";
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(test::shipped_description_folder())) {
    fs::copy_file(entry.path(), folder / entry.path().filename());
  }
  auto settings = platform::open_program_settings();
  settings->set_value("datadirectory", folder.string());
  return folder;
}

TEST(TestSwitch, ShippedDescriptionLoadsAndEndsWithZero) {
  test::TestHome home;
  test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("Ошибка"), std::string::npos) << r.err;
}

TEST(TestSwitch, DamagedTreeIsReportedAndRefused) {
  test::TestHome home;
  fs::path folder = shipped_copy(home);
  fs::resize_file(folder / "kba604.tree.zip", fs::file_size(folder / "kba604.tree.zip") / 2);
  test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  EXPECT_EQ(r.exit_code, exit_code::kDescriptionRefused) << r.err;
  EXPECT_NE(r.err.find("kba604.tree.zip"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  // The program ends: its message must not say that it goes on without the file.
  EXPECT_EQ(r.err.find("продолжит работу"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("завершается"), std::string::npos) << r.err;
}

// A FIFO or a folder in the place of a description file is refused like a damaged file, without
// waiting for a writer that never comes.
TEST(TestSwitch, DescriptionFileThatIsNoRegularFileIsRefused) {
  test::TestHome home;
  fs::path folder = shipped_copy(home);
  fs::remove(folder / "kba604.tree.op.zip");
  ASSERT_EQ(::mkfifo((folder / "kba604.tree.op.zip").c_str(), 0600), 0);
  fs::remove(folder / "kba604.tree.h.zip");
  fs::create_directories(folder / "kba604.tree.h.zip");
  test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  EXPECT_EQ(r.exit_code, exit_code::kDescriptionRefused) << r.err;
  EXPECT_NE(r.err.find("kba604.tree.op.zip"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kba604.tree.h.zip"), std::string::npos) << r.err;
}

TEST(TestSwitch, MissingTableIsReportedAndRefused) {
  test::TestHome home;
  fs::path folder = shipped_copy(home);
  fs::remove(folder / "parameters.zip");
  test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  EXPECT_EQ(r.exit_code, exit_code::kDescriptionRefused) << r.err;
  EXPECT_NE(r.err.find("parameters.zip"), std::string::npos) << r.err;
}

TEST(TestSwitch, EmptyOrForeignTooltipFileIsNoFailure) {
  for (const char* content : {"", "\x1f\x8b\x08\x00 not ours"}) {
    test::TestHome home;
    fs::path folder = shipped_copy(home);
    std::ofstream(folder / "tooltip.dat", std::ios::trunc) << content;
    test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

}  // namespace
}  // namespace kba604
