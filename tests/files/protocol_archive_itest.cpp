// Archives against another reader and writer of compound files, the `gsf` tool of libgsf:
// what the program packs, `gsf list` and `gsf cat` give back chunk by chunk; what `gsf
// createole` writes, the program unpacks, and damaged chunks end the unpacking cleanly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/protocol_archive.h"
#include "support/child_process.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

const char* kGsf = "/usr/bin/gsf";

void write_file(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}
std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
std::uint32_t le32(const std::string& s, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}
std::string le32_bytes(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
// One chunk record made here with zlib, independently of the program.
std::string chunk(const std::string& raw) {
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
            reinterpret_cast<const Bytef*>(raw.data()), raw.size(), Z_DEFAULT_COMPRESSION);
  packed.resize(size);
  return le32_bytes(static_cast<std::uint32_t>(raw.size())) +
         le32_bytes(static_cast<std::uint32_t>(size)) + packed;
}
std::string day_bytes(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + i / 1000) & 0xFF);
  return s;
}

class ArchiveInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kGsf)) GTEST_SKIP() << "the gsf tool (libgsf-bin) is not installed";
    fs::create_directories(dir());
  }
  fs::path dir() const { return home_.root() / "protocol"; }
  test::TestHome home_;
};

TEST_F(ArchiveInteropTest, GsfListsAndCatsEveryStreamTheProgramPacked) {
  const std::size_t sizes[] = {0, 1000000, 1000001};
  const char* names[] = {"01-12-2026.log", "02-12-2026.log", "03-12-2026.log"};
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(dir() / "12-2026.var", true));
  for (int i = 0; i < 3; ++i) {
    write_file(dir() / names[i], day_bytes(sizes[i]));
    ASSERT_TRUE(archive.pack(names[i], dir() / names[i]));
  }
  archive.close();

  test::ChildResult list = test::run_child({kGsf, "list", (dir() / "12-2026.var").string()});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  for (const char* name : names) EXPECT_NE(list.out.find(name), std::string::npos) << list.out;

  // Chunk counts: an empty day gives an empty stream, 1000000 bytes one chunk, 1000001 two,
  // the second of raw length 1; the chunks inflate to the day file.
  const std::size_t expected_chunks[] = {0, 1, 2};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    test::ChildResult cat = test::run_child({kGsf, "cat", (dir() / "12-2026.var").string(), names[i]});
    ASSERT_EQ(cat.exit_code, 0) << cat.err;
    std::string day;
    std::vector<std::uint32_t> raw_lengths;
    for (std::size_t at = 0; at < cat.out.size();) {
      ASSERT_LE(at + 8, cat.out.size());
      std::uint32_t raw = le32(cat.out, at), packed = le32(cat.out, at + 4);
      ASSERT_LE(at + 8 + packed, cat.out.size());
      std::string out(raw, '\0');
      uLongf got = raw;
      ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &got,
                           reinterpret_cast<const Bytef*>(cat.out.data() + at + 8), packed),
                Z_OK);
      ASSERT_EQ(got, raw);
      day += out;
      raw_lengths.push_back(raw);
      at += 8 + packed;
    }
    EXPECT_EQ(raw_lengths.size(), expected_chunks[i]);
    if (sizes[i] == 1000001) {
      EXPECT_EQ(raw_lengths.back(), 1u);
    }
    EXPECT_TRUE(day == day_bytes(sizes[i]));
  }
}

TEST_F(ArchiveInteropTest, AnArchiveWrittenByAnotherWriterUnpacksAndDamagedChunksFailCleanly) {
  fs::path streams = home_.root() / "streams";
  fs::create_directories(streams);
  std::string good_day = day_bytes(1500000);
  write_file(streams / "05-12-2026.log",
             chunk(good_day.substr(0, 1000000)) + chunk(good_day.substr(1000000)));
  std::string one = chunk("abc");
  auto with_raw = [&](std::uint32_t raw) { return le32_bytes(raw) + one.substr(4); };
  write_file(streams / "06-12-2026.log", with_raw(0));
  write_file(streams / "07-12-2026.log", with_raw(1000001));
  write_file(streams / "08-12-2026.log", one.substr(0, 4) + le32_bytes(4000000000u) + one.substr(8));
  write_file(streams / "09-12-2026.log", one.substr(0, one.size() - 2));  // packed bytes cut
  write_file(streams / "10-12-2026.log", with_raw(4));  // inflates to fewer bytes than it says
  write_file(streams / "11-12-2026.log", one + one.substr(0, 5));  // a header cut off
  fs::path var = dir() / "12-2026.var";
  std::vector<std::string> argv = {kGsf, "createole", var.string()};
  for (int d = 5; d <= 11; ++d)
    argv.push_back((streams / ((d < 10 ? "0" : "") + std::to_string(d) + "-12-2026.log")).string());
  test::ChildResult made = test::run_child(argv);
  ASSERT_EQ(made.exit_code, 0) << made.err;

  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(var, false));
  EXPECT_EQ(archive.list().size(), 7u);
  fs::path out = home_.root() / "temp";
  ASSERT_TRUE(archive.unpack("05-12-2026.log", out)) << archive.error();
  EXPECT_TRUE(read_file(out / "05-12-2026.log") == good_day);
  EXPECT_EQ(archive.raw_length("05-12-2026.log"), 1500000u);
  for (int d = 6; d <= 11; ++d) {
    std::string name = (d < 10 ? "0" : "") + std::to_string(d) + "-12-2026.log";
    SCOPED_TRACE(name);
    EXPECT_FALSE(archive.unpack(name, out));
    EXPECT_FALSE(fs::exists(out / name));
    if (d != 10) {
      EXPECT_FALSE(archive.raw_length(name).has_value());
    }
  }
}

}  // namespace
}  // namespace kba604
