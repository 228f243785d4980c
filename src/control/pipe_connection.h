// The command language of the control channel: lines of words separated by spaces or tabs.
// DecodeString tells what a line from the peer is: a presence query "!?", the answer to a port
// request "! <port> <answer>", or anything else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

// Decoding results.
inline constexpr int kDecodeOther = -1;    // no meaning of its own, or an error
inline constexpr int kDecodePortOk = 1;    // "! <port> ok": the port was opened
inline constexpr int kDecodePresence = 2;  // "!?"

inline constexpr std::string_view kNoWordsText = "Нет слов!";
inline constexpr std::string_view kNoPortText = "Не указан порт!";
inline constexpr std::string_view kNoPortAnswerText = "Нет ответа на запрос открытия порта!";
inline constexpr std::string_view kDecodeErrorPrefix = "ОШИБКА В CPipeConnection::DecodeString: ";

// The words of a line: the runs of characters between spaces and tabs.
std::vector<std::string_view> split_words(std::string_view line);

struct CPipeConnection {
  // Decodes one line (UTF-8, without its line end). Returns kDecodePresence, kDecodePortOk or
  // kDecodeOther; an error (no words, no port, no answer) gives kDecodeOther and its text, with
  // the prefix above, in *error_text (when given; otherwise it is cleared). Nobody is shown it.
  static int DecodeString(std::string_view line, std::string* error_text);
};

}  // namespace kba604
