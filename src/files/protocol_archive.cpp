#include "files/protocol_archive.h"

#include <gsf/gsf.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {
namespace fs = std::filesystem;
namespace {

// A compressed chunk never needs more than this (zlib's bound for 1000000 bytes is far less).
constexpr std::size_t kPackedBufferSize = kArchiveChunkSize * 12 / 10;
constexpr std::size_t kMaxStreamName = 31;
constexpr std::size_t kCopyPiece = 1 << 20;

void init_gsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

// Owns one GObject reference.
struct Unref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

struct GErrorText {
  GError* error = nullptr;
  ~GErrorText() {
    if (error) g_error_free(error);
  }
  std::string text() const { return error ? error->message : "причина неизвестна"; }
};

GsfInfile* as_infile(void* p) { return static_cast<GsfInfile*>(p); }

void put_le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get_le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Whether an archive child is a stream (a storage has a child count, a stream has none).
bool is_stream(GsfInput* child) {
  return !GSF_IS_INFILE(child) || gsf_infile_num_children(GSF_INFILE(child)) < 0;
}

GPtr<GsfInput> child_stream(void* infile, std::string_view name) {
  if (infile == nullptr) return nullptr;
  GPtr<GsfInput> child(gsf_infile_child_by_name(as_infile(infile), std::string(name).c_str()));
  if (child && !is_stream(child.get())) child.reset();
  return child;
}

// Reads exactly size bytes; false when the stream ends before.
bool read_exact(GsfInput* input, std::size_t size, std::uint8_t* out) {
  return size == 0 || gsf_input_read(input, size, out) != nullptr;
}

// Writes one day file into an open stream of the new archive, chunk by chunk.
bool write_day_file(GsfOutput* stream, const fs::path& day_file, std::string& error) {
  // Only a regular file: a FIFO of a day file's name would hold the packing forever.
  platform::FileRead refused;
  const int fd = platform::open_regular_file(day_file, refused);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(fd < 0 ? nullptr : ::fdopen(fd, "rb"),
                                                     &std::fclose);
  if (!in) {
    error = "файл " + day_file.string() +
            " не читается: " + (fd < 0 ? refused.reason : std::string(std::strerror(errno)));
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::vector<std::uint8_t> raw(kArchiveChunkSize);
  std::vector<std::uint8_t> packed(8 + kPackedBufferSize);
  for (;;) {
    std::size_t got = std::fread(raw.data(), 1, raw.size(), in.get());
    if (got == 0) break;
    uLongf packed_size = kPackedBufferSize;
    if (compress2(packed.data() + 8, &packed_size, raw.data(), got, Z_DEFAULT_COMPRESSION) !=
        Z_OK) {
      error = "не удалось сжать " + day_file.string();
      return false;
    }
    put_le32(packed.data(), static_cast<std::uint32_t>(got));
    put_le32(packed.data() + 4, static_cast<std::uint32_t>(packed_size));
    if (!gsf_output_write(stream, 8 + packed_size, packed.data())) {
      error = "не удалось записать архив";
      return false;
    }
    if (got < raw.size()) break;
  }
  if (std::ferror(in.get())) {
    error = "файл " + day_file.string() + " не читается: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool copy_stream(GsfInput* from, GsfOutput* to) {
  std::vector<std::uint8_t> piece(kCopyPiece);
  gsf_off_t left = gsf_input_remaining(from);
  while (left > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<gsf_off_t>(left, kCopyPiece));
    if (!read_exact(from, n, piece.data()) || !gsf_output_write(to, n, piece.data())) return false;
    left -= static_cast<gsf_off_t>(n);
  }
  return true;
}

void default_warning(const std::string& text) { std::fprintf(stderr, "kba604: %s\n", text.c_str()); }

}  // namespace

fs::path archive_path_for(const fs::path& protocol_dir, std::string_view day_file_name) {
  std::string title = fs::path(std::string(day_file_name)).stem().string();
  auto dash = title.find('-');
  if (dash != std::string::npos) title = title.substr(dash + 1);
  return protocol_dir / (title + ".var");
}

bool safe_stream_name(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxStreamName * 4) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  // The directory of a compound file holds at most 31 UTF-16 characters of a name; a longer
  // one would be cut and would never be found again under its own name.
  std::size_t characters = 0;
  for (unsigned char c : name) characters += (c & 0xC0) != 0x80;
  return characters <= kMaxStreamName;
}

ProtocolArchive::~ProtocolArchive() { close(); }

bool ProtocolArchive::fail(std::string what) {
  error_ = std::move(what);
  return false;
}

bool ProtocolArchive::open(const fs::path& file, bool may_create, ArchiveWarning warn) {
  close();
  init_gsf();
  file_ = file;
  error_.clear();
  std::error_code ec;
  bool exists = fs::exists(file, ec);
  // A folder, a FIFO or a device node of an archive's name is never opened (opening a FIFO
  // would wait for a writer forever) and never moved aside nor replaced: it is not ours.
  if (const std::string kind = platform::unwritable_kind(file); exists && !kind.empty()) {
    error_ = "архив " + file.string() + " не открывается: " + kind;
    return false;
  }
  if (exists) {
    GErrorText err;
    // Mapped, a stream's sectors are copied out of memory; through stdio every 512-byte sector
    // of a chunk would cost a seek and a read of its own.
    GPtr<GsfInput> input(gsf_input_mmap_new(file.c_str(), nullptr));
    if (!input) input.reset(gsf_input_stdio_new(file.c_str(), &err.error));
    if (input) {
      GErrorText err2;
      infile_ = gsf_infile_msole_new(input.get(), &err2.error);
      if (infile_) {
        storage_ = true;
        return true;
      }
      error_ = file.string() + " не составной файл архива: " + err2.text();
    } else {
      error_ = "архив " + file.string() + " не читается: " + err.text();
    }
    if (!may_create) return false;
    // Something is there that is not an archive. Its bytes may still be worth something to
    // a person (a copy cut short, a file put there by hand): keep them under another name.
    if (!fs::is_regular_file(file, ec)) return false;
    fs::path aside = file.string() + ".damaged";
    for (int i = 1; fs::exists(aside, ec) && i < 1000; ++i)
      aside = file.string() + ".damaged." + std::to_string(i);
    if (fs::exists(aside, ec) || (fs::rename(file, aside, ec), ec)) {
      error_ = "испорченный архив " + file.string() + " не удалось переименовать";
      return false;
    }
    (warn ? warn : default_warning)("архив " + file.string() +
                                    " не был составным файлом; он сохранен как " + aside.string() +
                                    ", начат новый архив");
  } else if (!may_create) {
    error_ = "архива " + file.string() + " нет";
    return false;
  }
  storage_ = true;
  return true;
}

void ProtocolArchive::close() {
  if (infile_) g_object_unref(infile_);
  infile_ = nullptr;
  storage_ = false;
}

std::vector<std::string> ProtocolArchive::list() const {
  std::vector<std::string> names;
  if (!infile_) return names;
  GsfInfile* in = as_infile(infile_);
  int count = gsf_infile_num_children(in);
  for (int i = 0; i < count; ++i) {
    GPtr<GsfInput> child(gsf_infile_child_by_index(in, i));
    const char* name = gsf_infile_name_by_index(in, i);
    if (child && name && is_stream(child.get())) names.emplace_back(name);
  }
  return names;
}

std::optional<std::uint64_t> ProtocolArchive::raw_length(std::string_view stream) const {
  GPtr<GsfInput> in = child_stream(infile_, stream);
  if (!in) return std::nullopt;
  std::uint64_t total = 0;
  std::uint8_t header[8];
  while (gsf_input_remaining(in.get()) > 0) {
    if (!read_exact(in.get(), 8, header)) return std::nullopt;
    std::uint32_t raw = get_le32(header);
    std::uint32_t packed = get_le32(header + 4);
    if (raw == 0 || raw > kArchiveChunkSize || packed > gsf_input_remaining(in.get()))
      return std::nullopt;
    if (gsf_input_seek(in.get(), packed, G_SEEK_CUR)) return std::nullopt;
    total += raw;
  }
  return total;
}

bool ProtocolArchive::pack(const std::vector<Item>& items) {
  error_.clear();
  if (!storage_) return fail("архив не открыт");
  for (const Item& item : items)
    if (!safe_stream_name(item.stream))
      return fail("недопустимое имя потока \"" + item.stream + "\"");

  platform::AtomicFileWriter writer(file_);
  if (!writer.ok()) return fail(writer.error());
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink_file(
      std::fopen(writer.temp_path().c_str(), "wb"), &std::fclose);
  if (!sink_file) return fail("не удалось записать " + writer.temp_path().string());
  GPtr<GsfOutput> sink(gsf_output_stdio_new_FILE(writer.temp_path().c_str(), sink_file.get(), TRUE));
  if (!sink) return fail("не удалось записать " + writer.temp_path().string());
  GPtr<GsfOutfile> out(gsf_outfile_msole_new(sink.get()));
  if (!out) return fail("не удалось начать архив " + file_.string());

  auto replaced = [&](std::string_view name) {
    return std::any_of(items.begin(), items.end(),
                       [&](const Item& i) { return i.stream == name; });
  };
  bool ok = true;
  // The streams that stay, as they are, in their order.
  for (const std::string& name : list()) {
    if (!ok) break;
    if (replaced(name)) continue;
    GPtr<GsfInput> from = child_stream(infile_, name);
    GPtr<GsfOutput> to(gsf_outfile_new_child(out.get(), name.c_str(), FALSE));
    ok = from && to && copy_stream(from.get(), to.get()) && gsf_output_close(to.get());
    if (!ok) error_ = "не удалось скопировать поток " + name + " архива " + file_.string();
  }
  // The streams packed now; of two items with one name the later wins.
  std::map<std::string, const Item*> latest;
  for (const Item& item : items) latest[item.stream] = &item;
  for (const Item& item : items) {
    if (!ok) break;
    if (latest[item.stream] != &item) continue;
    GPtr<GsfOutput> to(gsf_outfile_new_child(out.get(), item.stream.c_str(), FALSE));
    ok = to && write_day_file(to.get(), item.day_file, error_) && gsf_output_close(to.get());
    if (!ok && error_.empty()) error_ = "не удалось записать поток " + item.stream;
  }
  ok = gsf_output_close(GSF_OUTPUT(out.get())) && ok;
  out.reset();
  sink.reset();
  ok = std::fflush(sink_file.get()) == 0 && !std::ferror(sink_file.get()) && ok;
  sink_file.reset();
  if (!ok) {
    if (error_.empty()) error_ = "не удалось записать архив " + file_.string();
    return false;
  }
  if (!writer.commit()) return fail(writer.error());
  // Go on with the archive just written.
  close();
  return open(file_, false) || fail("не удалось снова открыть " + file_.string());
}

bool ProtocolArchive::unpack(std::string_view stream, const fs::path& output_dir) {
  if (!storage_) return fail("архив не открыт");
  if (!safe_stream_name(stream))
    return fail("недопустимое имя потока \"" + std::string(stream) + "\"");
  GPtr<GsfInput> in = child_stream(infile_, stream);
  if (!in) return fail("в архиве " + file_.string() + " нет потока " + std::string(stream));
  std::error_code ec;
  if (!output_dir.empty()) fs::create_directories(output_dir, ec);

  platform::AtomicFileWriter writer(output_dir / std::string(stream));
  if (!writer.ok()) return fail(writer.error());
  std::vector<std::uint8_t> raw(kArchiveChunkSize);
  std::uint8_t header[8];
  while (gsf_input_remaining(in.get()) > 0) {
    if (!read_exact(in.get(), 8, header)) return fail("заголовок блока обрезан");
    std::uint32_t raw_size = get_le32(header);
    std::uint32_t packed_size = get_le32(header + 4);
    if (raw_size == 0 || raw_size > kArchiveChunkSize)
      return fail("блок заявляет " + std::to_string(raw_size) + " байт");
    if (packed_size > gsf_input_remaining(in.get())) return fail("блок выходит за конец потока");
    // Without a buffer of ours the library hands out its own bytes: from a mapped archive
    // whose chunk lies in consecutive sectors that is the mapping itself, with no copy.
    const guint8* chunk =
        packed_size == 0 ? nullptr : gsf_input_read(in.get(), packed_size, nullptr);
    if (packed_size != 0 && chunk == nullptr) return fail("блок не читается");
    uLongf got = raw_size;
    if (uncompress(raw.data(), &got, chunk, packed_size) != Z_OK || got != raw_size)
      return fail("блок не распаковывается до своей длины");
    if (!writer.write(raw.data(), got)) return fail(writer.error());
  }
  // The copy in temp/ is read back at once by the report; the archive keeps the data.
  if (!writer.commit(platform::AtomicFileWriter::Durability::Scratch)) return fail(writer.error());
  return true;
}

PackRunResult pack_old_day_files(const fs::path& protocol_dir, std::string_view current_file,
                                 ArchiveWarning warn) {
  PackRunResult result;
  // Day files by archive, in name order so that a run does the same each time.
  std::map<fs::path, std::vector<fs::path>> by_archive;
  std::error_code ec;
  for (fs::directory_iterator it(protocol_dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    if (!platform::iequals(path.extension().string(), ".log")) continue;
    if (platform::iequals(path.filename().string(), current_file)) continue;
    std::error_code ec2;
    if (!it->is_regular_file(ec2)) continue;
    by_archive[archive_path_for(protocol_dir, path.filename().string())].push_back(path);
  }
  for (auto& [archive_file, day_files] : by_archive) {
    std::sort(day_files.begin(), day_files.end());
    ProtocolArchive archive;
    if (!archive.open(archive_file, true, warn)) {
      result.failed += static_cast<int>(day_files.size());
      continue;
    }
    struct stat archive_stat {};
    bool archive_known = ::stat(archive_file.c_str(), &archive_stat) == 0;
    std::vector<ProtocolArchive::Item> items;
    for (const fs::path& day : day_files) {
      std::string name = day.filename().string();
      struct stat day_stat {};
      if (archive_known && ::stat(day.c_str(), &day_stat) == 0) {
        auto before = [](const timespec& a, const timespec& b) {
          return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
        };
        std::optional<std::uint64_t> packed = archive.raw_length(name);
        if (packed && *packed == static_cast<std::uint64_t>(day_stat.st_size) &&
            before(day_stat.st_mtim, archive_stat.st_mtim)) {
          ++result.unchanged;
          continue;
        }
      }
      if (!safe_stream_name(name)) {
        ++result.failed;
        continue;
      }
      items.push_back({name, day});
    }
    if (items.empty()) continue;
    if (archive.pack(items)) {
      result.packed += static_cast<int>(items.size());
      continue;
    }
    // One unreadable day file must not keep the others of its month out: pack them one by one.
    for (const auto& item : items) {
      if (archive.pack(item.stream, item.day_file))
        ++result.packed;
      else
        ++result.failed;
    }
  }
  return result;
}

std::string day_file_name(int year, int month, int day) {
  return platform::format("%02d-%02d-%04d.log", day, month, year);
}

std::string day_file_name_of(std::int64_t unix_time) {
  std::time_t t = static_cast<std::time_t>(unix_time);
  std::tm local{};
  localtime_r(&t, &local);
  return day_file_name(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

ProtocolFiles list_protocol_files(const fs::path& protocol_dir) {
  ProtocolFiles found;
  std::vector<fs::path> archives;
  std::error_code ec;
  for (fs::directory_iterator it(protocol_dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string ext = it->path().extension().string();
    if (platform::iequals(ext, ".var")) archives.push_back(it->path());
    if (platform::iequals(ext, ".log") && it->is_regular_file(ec)) {
      found.day_files.push_back(it->path());
    }
  }
  std::sort(archives.begin(), archives.end());
  std::sort(found.day_files.begin(), found.day_files.end());
  for (const fs::path& file : archives) {
    ProtocolArchive archive;
    if (!archive.open(file, false)) continue;
    found.archives.push_back({file, archive.list()});
  }
  return found;
}

int clean_archives(const fs::path& protocol_dir, int year, int month) {
  int deleted = 0;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(protocol_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (platform::iequals(it->path().extension().string(), ".var")) files.push_back(it->path());
  }
  for (const fs::path& file : files) {
    std::string title = file.stem().string();
    auto dash = title.find('-');
    if (dash == std::string::npos) continue;
    auto decimal = [](std::string_view text) -> std::optional<long> {
      std::size_t i = 0;
      bool negative = false;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
      if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
      long v = 0;
      for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 100000000; ++i)
        v = v * 10 + (text[i] - '0');
      return negative ? -v : v;
    };
    std::string_view rest = std::string_view(title).substr(dash + 1);
    std::optional<long> m = decimal(std::string_view(title).substr(0, dash));
    std::optional<long> y = decimal(rest.substr(0, rest.find('-')));
    if (!m || !y || *m < 0 || *y < 0) continue;
    if (*y < year || (*y == year && *m <= month)) {
      std::error_code ec2;
      if (fs::remove(file, ec2)) ++deleted;
    }
  }
  return deleted;
}

}  // namespace kba604
