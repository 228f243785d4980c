// "kba604 --export-parlist [ФАЙЛ]": the parameter list of the installed description written for
// a documentation build, its path on standard output, and the failures that end it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "app/exit_flags.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "runner/tool_modes.h"
#include "support/description_files.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

struct Ran {
  std::optional<int> code;
  std::string out, err;
};

Ran run(std::vector<std::string> params) {
  std::ostringstream out, err;
  Ran r;
  r.code = run_tool_mode(params, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ExportParlist : ::testing::Test {
  test::TestHome home;
  void use_data_folder(const std::filesystem::path& folder) {
    platform::IniSettingsStore(platform::settings_file())
        .set_value("datadirectory", folder.string() + "/");
  }
};

TEST_F(ExportParlist, WritesThePageAndPrintsItsPath) {
  use_data_folder(test::shipped_description_folder());
  Ran r = run({"--export-parlist"});
  const std::filesystem::path page = platform::program_directory() / "parlist.html";
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, page.string() + "\n");
  EXPECT_TRUE(r.err.empty()) << r.err;
  const std::string text = platform::from_cp1251(read_file(page));
  EXPECT_NE(text.find("\t<td>r.St\t</td>\n\t<td>2810\t</td>"), std::string::npos);
  EXPECT_NE(text.find("\t<td>net.s\t</td>"), std::string::npos);

  // A file named after the mode, in every form.
  for (auto params :
       {std::vector<std::string>{"--export-parlist", (home.root() / "a.html").string()},
        {"--export-parlist=" + (home.root() / "b.html").string()},
        {"--EXPORT-PARLIST:" + (home.root() / "c.html").string()}}) {
    Ran named = run(params);
    ASSERT_EQ(named.code, 0) << named.err;
    const std::string path = named.out.substr(0, named.out.size() - 1);
    EXPECT_EQ(read_file(path), read_file(page)) << path;
  }
}

TEST_F(ExportParlist, FailuresEndWithTheirCodesAndWriteNothing) {
  use_data_folder(home.root() / "empty");
  Ran missing = run({"--export-parlist", (home.root() / "x.html").string()});
  EXPECT_EQ(missing.code, exit_code::kDescriptionRefused);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_FALSE(missing.err.empty());
  EXPECT_FALSE(std::filesystem::exists(home.root() / "x.html"));

  use_data_folder(test::shipped_description_folder());
  std::ofstream(home.root() / "plain") << "x";
  Ran unwritable = run({"--export-parlist", (home.root() / "plain" / "x.html").string()});
  EXPECT_EQ(unwritable.code, exit_code::kSaveFailed);
  EXPECT_TRUE(unwritable.out.empty());
  EXPECT_NE(unwritable.err.find("Не удалось записать список параметров"), std::string::npos);

  Ran extra = run({"--export-parlist", "a.html", "b.html"});
  EXPECT_EQ(extra.code, exit_code::kUsage);
  EXPECT_TRUE(extra.out.empty());
}

}  // namespace
}  // namespace kba604
