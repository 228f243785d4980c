#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/paths.h"
#include "support/test_home.h"
#include "support/build_paths.h"

namespace kba604::platform {
namespace {

TEST(Paths, FollowTheXdgVariables) {
  test::TestHome home;
  EXPECT_EQ(settings_file(), home.config_dir() / "TALV" / "KBA604.conf");
  EXPECT_EQ(devices_file(), home.config_dir() / "TALV" / "Devices.conf");
  EXPECT_EQ(program_directory(), home.data_dir() / "TALV" / "KBA604" / "");
  EXPECT_EQ(runtime_dir(), home.runtime_dir());
}

TEST(Paths, FallBackToHomeWhenXdgIsUnsetOrRelative) {
  test::TestHome home;
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(config_home(), home.root() / ".config");
  EXPECT_EQ(data_home(), home.root() / ".local" / "share");
  EXPECT_EQ(runtime_dir(), temp_dir());
}

TEST(Paths, ProgramDirectoryIsCreatedWithItsFolders) {
  test::TestHome home;
  std::string error;
  ASSERT_TRUE(ensure_program_directory(&error)) << error;
  EXPECT_TRUE(std::filesystem::is_directory(program_directory() / "protocol"));
  EXPECT_TRUE(std::filesystem::is_directory(program_directory() / "temp"));
  EXPECT_TRUE(ensure_program_directory());
}

TEST(Paths, DataFolderDefaultIsShareBesideTheProgramFolder) {
  // Test programs sit in <build>/bin like the program itself.
  std::filesystem::path expected =
      (std::filesystem::path(KBA604_BUILD_DIR) / "share" / "kba604" / "").lexically_normal();
  EXPECT_EQ(std::filesystem::weakly_canonical(default_data_directory()),
            std::filesystem::weakly_canonical(expected));
  EXPECT_EQ(default_data_directory().string().back(), '/');
  EXPECT_EQ(with_trailing_slash("/a"), "/a/");
  EXPECT_EQ(with_trailing_slash("/a/"), "/a/");
}

}  // namespace
}  // namespace kba604::platform
