// Monthly archives: packing day files and getting them back byte for byte, replacing a stream,
// damaged archives, the packing run at start and the cleaning by month.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "files/protocol_archive.h"
#include "support/fifo_guard.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  // Half noise, half repetition, so that chunks both shrink and do not.
  for (std::size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>((i / 4096) % 2 ? gen() & 0xFF : (i * 7) & 0x3F);
  return s;
}

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

// Sets a file's modification time some seconds into the past, so that the order of day file
// and archive does not hang on the file system's clock granularity.
void age(const fs::path& file, int seconds) {
  fs::last_write_time(file, fs::last_write_time(file) - std::chrono::seconds(seconds));
}

class ProtocolArchiveTest : public ::testing::Test {
 protected:
  fs::path protocol() const { return home_.data_dir() / "protocol"; }
  fs::path temp() const { return home_.data_dir() / "temp"; }
  void SetUp() override { fs::create_directories(protocol()); }
  test::TestHome home_;
};

TEST_F(ProtocolArchiveTest, DayFilesOfEverySizeComeBackByteForByte) {
  fs::path var = protocol() / "12-2026.var";
  const std::size_t sizes[] = {0, 1, 999999, 1000000, 1000001, 2500000};
  std::vector<std::string> contents;
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(var, true));
  std::vector<ProtocolArchive::Item> items;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    contents.push_back(random_bytes(sizes[i], static_cast<unsigned>(i)));
    std::string name = std::to_string(10 + i) + "-12-2026.log";
    write_file(protocol() / name, contents.back());
    items.push_back({name, protocol() / name});
  }
  ASSERT_TRUE(archive.pack(items)) << archive.error();
  archive.close();

  ProtocolArchive reread;
  ASSERT_TRUE(reread.open(var, false));
  std::vector<std::string> expected;
  for (const auto& item : items) expected.push_back(item.stream);
  EXPECT_EQ(reread.list(), expected);
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(items[i].stream);
    EXPECT_EQ(reread.raw_length(items[i].stream), sizes[i]);
    ASSERT_TRUE(reread.unpack(items[i].stream, temp() / "sub")) << reread.error();
    EXPECT_EQ(read_file(temp() / "sub" / items[i].stream), contents[i]);
  }
  EXPECT_FALSE(reread.unpack("01-12-2026.log", temp()));
  EXPECT_FALSE(fs::exists(temp() / "01-12-2026.log"));
}

TEST_F(ProtocolArchiveTest, PackingTwiceKeepsOneStreamWithTheLatestContent) {
  fs::path var = protocol() / "12-2026.var";
  write_file(protocol() / "01-12-2026.log", "first day");
  write_file(protocol() / "02-12-2026.log", "second day, first version");
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(var, true));
  ASSERT_TRUE(archive.pack("01-12-2026.log", protocol() / "01-12-2026.log"));
  ASSERT_TRUE(archive.pack("02-12-2026.log", protocol() / "02-12-2026.log"));
  write_file(protocol() / "02-12-2026.log", "second day, longer second version");
  ASSERT_TRUE(archive.pack("02-12-2026.log", protocol() / "02-12-2026.log"));
  EXPECT_EQ(archive.list(), (std::vector<std::string>{"01-12-2026.log", "02-12-2026.log"}));
  ASSERT_TRUE(archive.unpack("02-12-2026.log", temp()));
  EXPECT_EQ(read_file(temp() / "02-12-2026.log"), "second day, longer second version");
  ASSERT_TRUE(archive.unpack("01-12-2026.log", temp()));
  EXPECT_EQ(read_file(temp() / "01-12-2026.log"), "first day");

  // A day file that cannot be read leaves the archive on disk as it was.
  std::string before = read_file(var);
  EXPECT_FALSE(archive.pack("03-12-2026.log", protocol() / "03-12-2026.log"));
  EXPECT_EQ(read_file(var), before);
  // No temporary file is left beside it either.
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(protocol())) ++files;
  EXPECT_EQ(files, 3);
}

TEST_F(ProtocolArchiveTest, AnArchiveThatIsNoCompoundFileIsKeptWhenListedAndMovedAsideWhenPacked) {
  fs::path var = protocol() / "12-2026.var";
  write_file(var, "not a compound file, but somebody's bytes");
  ProtocolArchive archive;
  EXPECT_FALSE(archive.open(var, false));
  EXPECT_TRUE(archive.list().empty());
  EXPECT_FALSE(archive.unpack("01-12-2026.log", temp()));
  EXPECT_EQ(read_file(var), "not a compound file, but somebody's bytes");

  write_file(protocol() / "01-12-2026.log", "a day");
  std::vector<std::string> warnings;
  ASSERT_TRUE(archive.open(var, true, [&](const std::string& w) { warnings.push_back(w); }));
  ASSERT_TRUE(archive.pack("01-12-2026.log", protocol() / "01-12-2026.log"));
  EXPECT_EQ(read_file(protocol() / "12-2026.var.damaged"), "not a compound file, but somebody's bytes");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("12-2026.var.damaged"), std::string::npos);
  ProtocolArchive reread;
  ASSERT_TRUE(reread.open(var, false));
  EXPECT_EQ(reread.list(), std::vector<std::string>{"01-12-2026.log"});

  // A second damaged archive does not overwrite the first one kept aside.
  write_file(var, "again broken");
  ASSERT_TRUE(archive.open(var, true, [](const std::string&) {}));
  EXPECT_EQ(read_file(protocol() / "12-2026.var.damaged.1"), "again broken");
  EXPECT_EQ(read_file(protocol() / "12-2026.var.damaged"), "not a compound file, but somebody's bytes");
}

TEST_F(ProtocolArchiveTest, StreamNamesThatWouldLeaveTheWorkingFolderAreRefused) {
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x.log", "/etc/passwd", "a/b.log", "a\\b.log",
                          std::string("a\nb.log"), std::string("a\x01.log"),
                          std::string(32, 'x')}) {
    EXPECT_FALSE(safe_stream_name(bad)) << bad;
  }
  for (const std::string& good : std::vector<std::string>{"07-12-2026.log", "..log", std::string(31, 'x'), "журнал.log"})
    EXPECT_TRUE(safe_stream_name(good)) << good;
  write_file(protocol() / "01-12-2026.log", "a day");
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(protocol() / "12-2026.var", true));
  EXPECT_FALSE(archive.pack("../01-12-2026.log", protocol() / "01-12-2026.log"));
  EXPECT_FALSE(fs::exists(protocol() / "12-2026.var"));
  ASSERT_TRUE(archive.pack("01-12-2026.log", protocol() / "01-12-2026.log"));
  EXPECT_FALSE(archive.unpack("../01-12-2026.log", temp()));
}

TEST_F(ProtocolArchiveTest, ArchiveNamesComeFromTheDayFileTitle) {
  EXPECT_EQ(archive_path_for("/p", "07-12-2026.log"), fs::path("/p/12-2026.var"));
  EXPECT_EQ(archive_path_for("/p", "journal.log"), fs::path("/p/journal.var"));
  EXPECT_EQ(day_file_name(2026, 12, 7), "07-12-2026.log");
}

TEST_F(ProtocolArchiveTest, PackingRunLeavesTheCurrentFileAndSkipsDaysPackedAlready) {
  write_file(protocol() / "30-11-2026.log", random_bytes(300000, 1));
  write_file(protocol() / "01-12-2026.log", random_bytes(1000001, 2));
  write_file(protocol() / "02-12-2026.log", "");
  write_file(protocol() / "07-12-2026.log", "today");
  write_file(protocol() / "notes.txt", "not a day file");
  for (const char* f : {"30-11-2026.log", "01-12-2026.log", "02-12-2026.log"})
    age(protocol() / f, 60);

  PackRunResult first = pack_old_day_files(protocol(), "07-12-2026.LOG");
  EXPECT_EQ(first.packed, 3);
  EXPECT_EQ(first.unchanged, 0);
  EXPECT_EQ(first.failed, 0);
  ProtocolArchive dec;
  ASSERT_TRUE(dec.open(protocol() / "12-2026.var", false));
  EXPECT_EQ(dec.list(), (std::vector<std::string>{"01-12-2026.log", "02-12-2026.log"}));
  ProtocolArchive nov;
  ASSERT_TRUE(nov.open(protocol() / "11-2026.var", false));
  EXPECT_EQ(nov.list(), std::vector<std::string>{"30-11-2026.log"});
  nov.close();
  dec.close();

  PackRunResult second = pack_old_day_files(protocol(), "07-12-2026.log");
  EXPECT_EQ(second.packed, 0);
  EXPECT_EQ(second.unchanged, 3);

  // A day file that grew since is packed again; the others stay as they are.
  std::string grown = random_bytes(300000, 1) + "one more record";
  write_file(protocol() / "30-11-2026.log", grown);
  age(protocol() / "30-11-2026.log", 30);
  PackRunResult third = pack_old_day_files(protocol(), "07-12-2026.log");
  EXPECT_EQ(third.packed, 1);
  EXPECT_EQ(third.unchanged, 2);
  ASSERT_TRUE(nov.open(protocol() / "11-2026.var", false));
  ASSERT_TRUE(nov.unpack("30-11-2026.log", temp()));
  EXPECT_EQ(read_file(temp() / "30-11-2026.log"), grown);

  // A day file changed with its size kept, after the archive was written, is packed again.
  write_file(protocol() / "02-12-2026.log", "");
  fs::last_write_time(protocol() / "02-12-2026.log",
                      fs::last_write_time(protocol() / "12-2026.var") + std::chrono::seconds(5));
  EXPECT_EQ(pack_old_day_files(protocol(), "07-12-2026.log").packed, 1);
  EXPECT_FALSE(fs::exists(protocol() / "07-2026.var"));
}

TEST_F(ProtocolArchiveTest, CleaningDeletesTheArchivesUpToTheChosenMonth) {
  for (const char* f : {"12-2025.var", "03-2025.var", "01-2026.var", "11-2024.var", "junk.var",
                        "ab-2020.var", "05-2025.log"})
    write_file(protocol() / f, "x");
  EXPECT_EQ(clean_archives(protocol(), 2025, 12), 3);
  EXPECT_FALSE(fs::exists(protocol() / "12-2025.var"));
  EXPECT_FALSE(fs::exists(protocol() / "03-2025.var"));
  EXPECT_FALSE(fs::exists(protocol() / "11-2024.var"));
  for (const char* kept : {"01-2026.var", "junk.var", "ab-2020.var", "05-2025.log"})
    EXPECT_TRUE(fs::exists(protocol() / kept)) << kept;
  EXPECT_EQ(clean_archives(protocol() / "missing", 2030, 1), 0);
}

// What lies in the protocol folder under an archive's or a day file's name but is no regular
// file (a FIFO, a folder) is refused with its reason, never waited on, never moved aside.
TEST_F(ProtocolArchiveTest, AFifoOrAFolderUnderAnArchivesNameIsRefusedWithoutWaiting) {
  const fs::path var = protocol() / "12-2026.var";
  ASSERT_EQ(::mkfifo(var.c_str(), 0600), 0);
  write_file(protocol() / "01-12-2026.log", "a day");
  ProtocolArchive archive;
  EXPECT_TRUE(test::returns_without_waiting(var, [&] { EXPECT_FALSE(archive.open(var, false)); }));
  EXPECT_NE(archive.error().find("не обычный файл"), std::string::npos) << archive.error();
  EXPECT_TRUE(test::returns_without_waiting(var, [&] { EXPECT_FALSE(archive.open(var, true)); }));
  // The packing run at start and the listing of the reports go past it.
  PackRunResult run;
  EXPECT_TRUE(
      test::returns_without_waiting(var, [&] { run = pack_old_day_files(protocol(), ""); }));
  EXPECT_EQ(run.failed, 1);
  EXPECT_EQ(read_file(protocol() / "01-12-2026.log"), "a day");
  ProtocolFiles files;
  EXPECT_TRUE(test::returns_without_waiting(var, [&] { files = list_protocol_files(protocol()); }));
  EXPECT_TRUE(files.archives.empty());
  EXPECT_EQ(fs::status(var).type(), fs::file_type::fifo);
  EXPECT_FALSE(fs::exists(protocol() / "12-2026.var.damaged"));

  const fs::path folder = protocol() / "11-2026.var";
  fs::create_directories(folder);
  EXPECT_FALSE(archive.open(folder, true));
  EXPECT_NE(archive.error().find("папка"), std::string::npos) << archive.error();
  EXPECT_TRUE(fs::is_directory(folder));

  // A day file handed to the packing directly that is a FIFO is refused the same way.
  const fs::path day = protocol() / "02-10-2026.log";
  ASSERT_EQ(::mkfifo(day.c_str(), 0600), 0);
  ASSERT_TRUE(archive.open(protocol() / "10-2026.var", true));
  EXPECT_TRUE(test::returns_without_waiting(
      day, [&] { EXPECT_FALSE(archive.pack("02-10-2026.log", day)); }));
  EXPECT_NE(archive.error().find("не обычный файл"), std::string::npos) << archive.error();
}

}  // namespace
}  // namespace kba604
