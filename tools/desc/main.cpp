// kba604-desc: compiles the readable description source (data/description) into the binary
// description files the program loads, checks a data set, and decompiles binary description
// files back into the source form.
//
//   kba604-desc compile [--check] <source folder> <output folder>
//   kba604-desc check <source folder>
//   kba604-desc decompile <data folder> <source folder>
//
// Exit codes: 0 done, 1 the source or the files have faults (listed on stderr), 2 bad usage.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "desc/description_checks.h"
#include "desc/description_source.h"
#include "description/gzip_file.h"

namespace fs = std::filesystem;
using namespace kba604::description;

namespace {

// The usage text: on stderr with exit code 2 after a wrong command line, on stdout with 0 when
// asked for with --help.
int usage(std::FILE* to = stderr, int code = 2) {
  std::fputs(
      "usage: kba604-desc compile [--check] <source folder> <output folder>\n"
      "       kba604-desc check <source folder>\n"
      "       kba604-desc decompile <data folder> <source folder>\n"
      "       kba604-desc --help\n"
      "\n"
      "compile    builds the binary description files (parameters.zip, the three trees,\n"
      "           tooltip.dat) from the readable source; --check runs the checks first\n"
      "check      checks the readable source and reports its faults\n"
      "decompile  turns binary description files back into the readable source\n"
      "\n"
      "exit codes: 0 done, 1 the source or the files have faults (listed on stderr),\n"
      "            2 bad usage\n",
      to);
  return code;
}

void report(const std::vector<std::string>& lines) {
  for (const auto& line : lines) std::fprintf(stderr, "kba604-desc: %s\n", line.c_str());
}

bool read_text(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return static_cast<bool>(in) || in.eof();
}

// Writes beside the target and renames it into place, so a reader never sees half a file.
bool write_file(const fs::path& target, const void* data, std::size_t size,
                std::vector<std::string>& errors) {
  fs::path temp = target;
  temp += ".tmp-" + std::to_string(::getpid());
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(data, 1, size, f) == size;
  if (f != nullptr) ok = (std::fflush(f) == 0) && (::fsync(fileno(f)) == 0) && ok;
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  std::error_code ec;
  if (ok) fs::rename(temp, target, ec);
  if (!ok || ec) {
    fs::remove(temp, ec);
    errors.push_back("cannot write " + target.string());
    return false;
  }
  return true;
}

bool load_source(const fs::path& folder, SourceJson& parameters,
                 std::array<SourceJson, kTreeCount>& trees, std::vector<std::string>& errors) {
  auto parse = [&](const char* name, SourceJson& out, bool required) {
    std::string text;
    fs::path path = folder / name;
    if (!fs::exists(path)) {
      if (required) errors.push_back(path.string() + ": not found");
      out = nullptr;
      return;
    }
    if (!read_text(path, text)) {
      errors.push_back(path.string() + ": cannot be read");
      return;
    }
    try {
      out = SourceJson::parse(text);
    } catch (const SourceJson::parse_error& e) {
      errors.push_back(path.string() + ": " + e.what());
    }
  };
  parse(kParametersSource, parameters, true);
  for (int t = 0; t < kTreeCount; ++t) parse(kTreeSources[t], trees[t], false);
  return errors.empty();
}

int compile(const fs::path& source, const fs::path* output, bool check) {
  std::vector<std::string> errors;
  SourceJson parameters;
  std::array<SourceJson, kTreeCount> trees;
  DescriptionRecords records;
  if (!load_source(source, parameters, trees, errors) ||
      !compile_description(parameters, trees, records, errors)) {
    report(errors);
    return 1;
  }
  auto table = pack_parameter_records(records.parameters, errors);
  std::array<std::vector<std::uint8_t>, kTreeCount> tree_data;
  for (int t = 0; t < kTreeCount; ++t) {
    tree_data[t] = pack_tree_records(records.trees[t], kTreeSources[t], errors);
  }
  if (check) {
    auto faults = check_data_set(records);
    errors.insert(errors.end(), faults.begin(), faults.end());
  }
  if (!errors.empty()) {
    report(errors);
    return 1;
  }
  if (output == nullptr) return 0;
  std::error_code ec;
  fs::create_directories(*output, ec);
  auto zipped = gzip_compress(table.data(), table.size());
  write_file(*output / kParametersFile, zipped.data(), zipped.size(), errors);
  for (int t = 0; t < kTreeCount; ++t) {
    zipped = gzip_compress(tree_data[t].data(), tree_data[t].size());
    write_file(*output / kTreeFiles[t], zipped.data(), zipped.size(), errors);
  }
  std::string tips = write_tooltip_file(records.tooltips);
  write_file(*output / kTooltipFile, tips.data(), tips.size(), errors);
  report(errors);
  return errors.empty() ? 0 : 1;
}

bool inflate_file(const fs::path& path, std::vector<std::uint8_t>& out,
                  std::vector<std::string>& errors, bool optional) {
  std::vector<std::uint8_t> bytes;
  GzipStatus status = read_file_bytes(path, bytes);
  if (status == GzipStatus::Missing && optional) return true;
  if (status == GzipStatus::Ok) {
    GzipReader reader(bytes.data(), bytes.size());
    if (reader.status() == GzipStatus::Ok) {
      out.resize(reader.trailer_length());
      out.resize(reader.read(out.data(), out.size()));
    }
    status = reader.finish();
  }
  if (status != GzipStatus::Ok) {
    errors.push_back(path.string() + ": " + gzip_fault_text(status));
    return false;
  }
  return true;
}

int decompile(const fs::path& data, const fs::path& source) {
  std::vector<std::string> errors;
  DescriptionRecords records;
  std::vector<std::uint8_t> bytes;
  if (inflate_file(data / kParametersFile, bytes, errors, false)) {
    if (bytes.size() % kParameterRecordSize != 0) {
      errors.push_back(std::string(kParametersFile) + ": " +
                       std::to_string(bytes.size() % kParameterRecordSize) +
                       " bytes after the last whole record are left out");
    }
    records.parameters = unpack_parameter_records(bytes);
  }
  for (int t = 0; t < kTreeCount; ++t) {
    bytes.clear();
    if (inflate_file(data / kTreeFiles[t], bytes, errors, true)) {
      records.trees[t] = unpack_tree_records(bytes);
    }
  }
  std::string tips;
  if (read_text(data / kTooltipFile, tips)) records.tooltips = read_tooltip_file(tips);

  SourceJson parameters;
  std::array<SourceJson, kTreeCount> trees;
  decompile_description(records, parameters, trees, errors);
  std::error_code ec;
  fs::create_directories(source, ec);
  std::string text = dump_source(parameters);
  write_file(source / kParametersSource, text.data(), text.size(), errors);
  for (int t = 0; t < kTreeCount; ++t) {
    if (trees[t].is_null()) continue;
    text = dump_source(trees[t]);
    write_file(source / kTreeSources[t], text.data(), text.size(), errors);
  }
  report(errors);
  return errors.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  if (args[0] == "--help" || args[0] == "-h") return usage(stdout, 0);
  std::string command = args[0];
  args.erase(args.begin());
  bool check = false;
  if (!args.empty() && args[0] == "--check") {
    check = true;
    args.erase(args.begin());
  }
  if (command == "compile" && args.size() == 2) {
    fs::path out = args[1];
    return compile(args[0], &out, check);
  }
  if (command == "check" && args.size() == 1 && !check) return compile(args[0], nullptr, true);
  if (command == "decompile" && args.size() == 2 && !check) return decompile(args[0], args[1]);
  return usage();
}
