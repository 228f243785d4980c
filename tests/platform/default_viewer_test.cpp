// Starting the desktop's viewer: a file name reaches the program as one argument, whatever
// characters it holds, and a program that is not there is reported instead of ignored.
#include "platform/default_viewer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/test_home.h"

namespace kba604::platform {
namespace {

struct DefaultViewer : ::testing::Test {
  test::TestHome home;
  std::string saved_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";

  // A program on PATH that writes its arguments, one a line, beside itself.
  void install_recorder(const char* name) {
    const auto bin = home.root() / "bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / name)
        << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/args\"\n"
           "exit 3\n";
    ::chmod((bin / name).c_str(), 0755);
    ::setenv("PATH", (bin.string() + ":" + saved_path).c_str(), 1);
  }
  std::string recorded() {
    std::ifstream in(home.root() / "bin" / "args");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void TearDown() override { ::setenv("PATH", saved_path.c_str(), 1); }
};

TEST_F(DefaultViewer, FileNameTravelsAsOneArgumentNeverThroughAShell) {
  install_recorder("xdg-open");
  const std::filesystem::path file = home.root() / "a b; $(touch pwned) 'q\" `x`.html";
  const std::vector<std::string> argv = default_viewer_command(file);
  ASSERT_EQ(argv.size(), 2u);
  EXPECT_EQ(argv[0], "xdg-open");
  int status = 0;
  std::string error;
  ASSERT_TRUE(run_program(argv, true, &status, &error)) << error;
  EXPECT_EQ(status, 3);
  EXPECT_EQ(recorded(), "1\n" + file.string() + "\n");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(home.root() / "pwned"));
}

TEST_F(DefaultViewer, MissingProgramIsReported) {
  ::setenv("PATH", (home.root() / "empty").c_str(), 1);
  std::string error;
  EXPECT_FALSE(run_program({"xdg-open", "x.html"}, true, nullptr, &error));
  EXPECT_NE(error.find("xdg-open"), std::string::npos);
  EXPECT_FALSE(open_in_default_viewer("x.html", &error));
  EXPECT_FALSE(run_program({}, true, nullptr, &error));
}

}  // namespace
}  // namespace kba604::platform
