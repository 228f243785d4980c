#include "support/channel_fuzz.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "control/channel_words.h"
#include "control/pipe_connection.h"
#include "control/transport.h"
#include "platform/text.h"

namespace kba604::test {
namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void one_line(const std::string& cp1251) {
  check(cp1251.size() <= NetConfig::kStdioLineMax);
  const std::string line = platform::from_cp1251(cp1251);

  std::string error;
  const int decoded = CPipeConnection::DecodeString(line, &error);
  check(decoded == kDecodeOther || decoded == kDecodePortOk || decoded == kDecodePresence);
  check(error.empty() || (decoded == kDecodeOther && error.starts_with(kDecodeErrorPrefix)));

  std::string why;
  const auto request = parse_channel_request(line, &why);
  if (request) {
    check(is_channel_word(request->word));
    // A parameter name reads back as it was understood.
    if (!request->parameter.name.empty()) {
      const auto again = parse_parameter_name(request->parameter.text());
      check(again && *again == request->parameter);
    }
  } else {
    check(!why.empty());
  }

  // An answer that carries the line stays one line, and unescapes to it.
  const std::string escaped = escape_for_line(line);
  check(escaped.find('\n') == std::string::npos && escaped.find('\r') == std::string::npos);
  std::string back;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      back += escaped[i];
      continue;
    }
    check(i + 1 < escaped.size());
    const char c = escaped[++i];
    check(c == 'n' || c == 'r' || c == '\\');
    back += c == 'n' ? '\n' : c == 'r' ? '\r' : '\\';
  }
  check(back == line);
}

}  // namespace

void fuzz_channel_input(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string line;
  bool cut = false;
  for (char c : bytes) {
    if (c == '\0' || c == '\n' || c == '\r') {
      one_line(line);
      line.clear();
      cut = false;
    } else if (!cut && line.size() < NetConfig::kStdioLineMax) {
      line += c;
    } else {
      cut = true;
    }
  }
  if (!line.empty()) one_line(line);
}

}  // namespace kba604::test
