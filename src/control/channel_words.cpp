#include "control/channel_words.h"

#include <charconv>

namespace kba604 {
namespace {

constexpr std::string_view kWords[] = {
    channel_word::kStatus, channel_word::kGet,   channel_word::kSet,
    channel_word::kRead,   channel_word::kWrite, channel_word::kCompare,
    channel_word::kOpen,   channel_word::kSave,  channel_word::kStop,
};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  return s;
}

std::optional<std::int32_t> decimal(std::string_view text, std::int32_t max) {
  if (text.empty()) return std::nullopt;
  std::int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max) {
    return std::nullopt;
  }
  return v;
}

// The next word of rest, or a text in double quotes; rest moves past it. Nothing when a
// quote is not closed.
std::optional<std::string> next_item(std::string_view& rest) {
  rest = skip_blanks(rest);
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string item(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    return item;
  }
  std::size_t end = 0;
  while (end < rest.size() && !is_blank(rest[end])) ++end;
  std::string item(rest.substr(0, end));
  rest.remove_prefix(end);
  return item;
}

}  // namespace

bool is_channel_word(std::string_view word) {
  for (std::string_view w : kWords) {
    if (w == word) return true;
  }
  return false;
}

std::string ChannelParameterName::text() const {
  std::string t = name;
  if (index) t += ":" + std::to_string(*index);
  if (offset) t += "@" + std::to_string(*offset);
  return t;
}

std::optional<ChannelParameterName> parse_parameter_name(std::string_view text) {
  ChannelParameterName n;
  const std::size_t at = text.find('@');
  if (at != std::string_view::npos) {
    n.offset = decimal(text.substr(at + 1), 0xFFFF);
    if (!n.offset) return std::nullopt;
    text = text.substr(0, at);
  }
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    n.index = decimal(text.substr(colon + 1), 0xFFFE);
    if (!n.index) return std::nullopt;
    text = text.substr(0, colon);
  }
  if (text.empty()) return std::nullopt;
  n.name = std::string(text);
  return n;
}

std::optional<ChannelRequest> parse_channel_request(std::string_view line, std::string* error) {
  auto fail = [error](std::string why) -> std::optional<ChannelRequest> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  std::string_view rest = skip_blanks(line);
  std::size_t end = 0;
  while (end < rest.size() && !is_blank(rest[end])) ++end;
  ChannelRequest r;
  r.word = std::string(rest.substr(0, end));
  rest.remove_prefix(end);
  if (!is_channel_word(r.word)) return fail("unknown word");

  auto no_more = [&rest]() { return skip_blanks(rest).empty(); };
  if (r.word == channel_word::kGet || r.word == channel_word::kSet) {
    const std::optional<std::string> name = next_item(rest);
    if (!name || name->empty()) return fail("no parameter named");
    const std::optional<ChannelParameterName> parsed = parse_parameter_name(*name);
    if (!parsed) return fail("bad parameter name " + *name);
    r.parameter = *parsed;
    if (r.word == channel_word::kGet) {
      if (!no_more()) return fail("too many words");
      return r;
    }
    // The value is the rest of the line, blanks inside it kept.
    std::string_view value = skip_blanks(rest);
    while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
    if (value.empty()) return fail("no value given");
    r.text = std::string(value);
    return r;
  }
  if (r.word == channel_word::kOpen || r.word == channel_word::kSave) {
    const std::optional<std::string> file = next_item(rest);
    if (!file) return fail("unclosed quote");
    if (file->empty()) return fail("no file named");
    r.text = *file;
    if (r.word == channel_word::kOpen) {
      const std::optional<std::string> option = next_item(rest);
      if (option && *option == "force") {
        r.force = true;
      } else if (!option || !option->empty()) {
        return fail("unknown option");
      }
    }
    if (!no_more()) return fail("too many words");
    return r;
  }
  if (!no_more()) return fail("too many words");
  return r;
}

std::string escape_for_line(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace kba604
