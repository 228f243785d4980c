// The exit-code flag word. The link, the operations, the connection check and the control
// channel set its bits from several threads; the process exit code is taken from it at exit.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

namespace kba604 {

// Exit codes of our own, for failures that the flag word cannot tell (it would give 0). They
// stay clear of 200-208.
namespace exit_code {
inline constexpr int kAlreadyRunning = 3;      // "Программа уже запущена!"
inline constexpr int kDescriptionRefused = 4;  // "/test": the description files were refused
inline constexpr int kNoFileName = 5;          // "read" or "newnetparam" without a file name
inline constexpr int kNoConnection = 6;        // no switches, the connection check failed
inline constexpr int kFileNotOpened = 8;       // the command-line file is no configuration
inline constexpr int kSaveFailed = 9;          // the save after "read" failed
inline constexpr int kCommandNotStarted = 10;  // the command of the command line could not begin
inline constexpr int kParametersFailed = 11;   // the command ran, some parameters failed
inline constexpr int kSignalFailed = 7;        // --signal-exitevent: no such event
inline constexpr int kNothingToExport = 12;    // --export-report: no record to report
inline constexpr int kReportNotWritten = 13;   // --export-report: the report was not written
inline constexpr int kNothingFound = 14;       // --scan: no instrument answered
inline constexpr int kPortFailed = 201;        // --scan: the port opened at no speed
inline constexpr int kUsage =
    2;  // the command line cannot be used: a switch that needs a value
        // has none, a port number above 255, a tool mode without its value
}  // namespace exit_code

// Every exit code the program ends with and what it means, in ascending order, for the usage
// text. A new code gets its line here next to its constant.
struct ExitCodeMeaning {
  int code;
  std::string_view meaning;
};
std::span<const ExitCodeMeaning> exit_code_table();

class ExitFlags {
 public:
  static constexpr std::uint32_t kWriteFileMissing = 0x01;  // code 200
  static constexpr std::uint32_t kPortOpenFailed = 0x02;    // code 201
  static constexpr std::uint32_t kTimeout = 0x04;           // code 202
  static constexpr std::uint32_t kPortSettings = 0x08;      // code 203
  static constexpr std::uint32_t kCancelled = 0x20;         // code 205
  static constexpr std::uint32_t kOtherModel = 0x40;        // code 206
  static constexpr std::uint32_t kChannelFailed = 0x80;     // code 208

  std::uint32_t value() const { return flags_.load(); }
  // "Set ExitFlags to X": the whole word becomes X.
  void set_to(std::uint32_t x) { flags_.store(x); }
  // "Set the value X in": bitwise or.
  void set_bits(std::uint32_t x) { flags_.fetch_or(x); }
  // "Clear the values X": bitwise and-not.
  void clear_bits(std::uint32_t x) { flags_.fetch_and(~x); }
  // A time-out sets the word to 4 unless it is 8 already.
  void note_timeout() {
    std::uint32_t v = flags_.load();
    while (v != kPortSettings && !flags_.compare_exchange_weak(v, kTimeout)) {
    }
  }
  // A reply after a loss changes a word of 4 to 8.
  void note_reply_after_loss() {
    std::uint32_t expected = kTimeout;
    flags_.compare_exchange_strong(expected, kPortSettings);
  }

  // Process exit code: the lowest set bit decides; with no bit set, 0.
  int exit_code() const;

 private:
  std::atomic<std::uint32_t> flags_{0};
};

}  // namespace kba604
