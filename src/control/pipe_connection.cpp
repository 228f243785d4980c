#include "control/pipe_connection.h"

#include "platform/text.h"

namespace kba604 {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    const std::size_t begin = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (i > begin) words.push_back(line.substr(begin, i - begin));
  }
  return words;
}

int CPipeConnection::DecodeString(std::string_view line, std::string* error_text) {
  if (error_text != nullptr) error_text->clear();
  auto fail = [error_text](std::string_view why) {
    if (error_text != nullptr) *error_text = std::string(kDecodeErrorPrefix) + std::string(why);
    return kDecodeOther;
  };

  const std::vector<std::string_view> words = split_words(line);
  if (words.empty()) return fail(kNoWordsText);
  if (words[0] == "!?") return kDecodePresence;
  if (words[0] != "!") return kDecodeOther;

  if (words.size() < 2) return fail(kNoPortText);
  // The answer is everything after the port word.
  const std::string_view port = words[1];
  const std::size_t port_end = static_cast<std::size_t>(port.data() - line.data()) + port.size();
  const std::string_view answer = trim_blanks(line.substr(port_end));
  if (answer.empty()) return fail(kNoPortAnswerText);
  return platform::iequals(answer, "ok") ? kDecodePortOk : kDecodeOther;
}

}  // namespace kba604
