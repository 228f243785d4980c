#include "description_fuzz.h"

#include <string>
#include <vector>

#include "description/description_loader.h"
#include "description/record_files.h"
#include "description/gzip_file.h"

namespace kba604::test {

void fuzz_description_input(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  const std::uint8_t flags = data[0];
  std::size_t table_size = std::size_t{data[1]} | (std::size_t{data[2]} << 8);
  data += 3;
  size -= 3;
  if (table_size > size) table_size = size;
  std::vector<std::uint8_t> table_part(data, data + table_size);
  std::vector<std::uint8_t> tree_part(data + table_size, data + size);
  if (!(flags & 1)) table_part = description::gzip_compress(table_part.data(), table_part.size());
  if (!(flags & 2)) tree_part = description::gzip_compress(tree_part.data(), tree_part.size());

  ParameterTable table;
  load_parameter_table_from_bytes(table, table_part, "parameters.zip", nullptr);
  auto root = load_tree_from_bytes(table, tree_part, "kba604.tree.zip", (flags & 4) ? "hidden" : "",
                                   nullptr);
  if (root) {
    // What the program does with a tree next: fill a view and collect the export lines.
    class NullSink final : public TreeSink {
     public:
      ViewRow insert_parameter(ViewRow, Parameter&) override { return ++row; }
      ViewRow insert_node(ViewRow, const std::string&, int, int, ObjectWithParameters*) override {
        return ++row;
      }
      ViewRow row = 0;
    } sink;
    root->fill_view(sink, 0);
    std::vector<ParameterLine> lines;
    root->collect_parameter_lines(lines, "", nullptr);
  }
  // The text parsers of the same data.
  std::string text(reinterpret_cast<const char*>(data), size);
  pack_version(text);
  description::read_tooltip_file(text);
}

}  // namespace kba604::test
