// Measurement recording: the protocol-file service parameter, the recording switch, one record
// per delivered poll into the current day file, and the daily change of the day file at 09:12
// local time with the packing of the older days.
//
//   Recording recording(program_directory);
//   recording.set_packing_hook(pack_day_files);  // the protocol archives
//   recording.start();                           // document start: today's file, older packed
//   recording.set_recording(true);               // the box of the protocol-file row
//   recording.record(snapshot);                  // for each poll, in poll order
//   recording.daily_tick();                      // once a second
//
// Threads: record() runs on the thread that delivers the polls (one thread, in poll order);
// everything else on the UI thread. The file name and the switch are guarded, so a record is
// written to the name that was current when it was taken.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/prompter.h"
#include "app/translatable.h"
#include "measurement/day_file_writer.h"
#include "model/parameter.h"
#include "operations/scanner.h"

namespace kba604 {

inline constexpr std::string_view kProtocolFileTitle = "Имя файла для сохранения протокола";
// The short name of the protocol-file parameter: four blanks. The tree tells its row by it.
inline constexpr std::string_view kProtocolFileShortName = "    ";
inline constexpr std::string_view kProtocolFileComment =
    "Введите имя файла протокола с расширением \".log\". Допустимо не указывать расширение, "
    "тогда оно будет добавлено автоматически.";
inline constexpr std::string_view kProtocolFolder = "protocol";
// Our own words for a file name that would not name a file in the protocol folder.
inline constexpr std::string_view kProtocolFileRefusedText = KBA604_TR_NOOP(
    "Messages",
    "Имя файла протокола не может содержать \"/\" и должно указывать на файл в папке "
    "\"protocol\".");
inline constexpr std::string_view kProtocolFileRefusedCaption =
    KBA604_TR_NOOP("Messages", "Неудалось изменить значение");

// Packs every day file "*.log" of protocol_folder other than current_file (compared without
// regard to case) into its monthly archive. Called by start() and by the daily change, on
// their thread (the UI thread), with no lock of the recording held; records keep going to
// current_file meanwhile, which the hook must leave alone. Nothing is packed while none is set.
using PackingHook =
    std::function<void(const std::filesystem::path& protocol_folder, const std::string& current_file)>;

class Recording {
 public:
  // program_directory holds the folder "protocol". wall gives the local date and time.
  explicit Recording(std::filesystem::path program_directory, WallClock wall = system_wall_ms);
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // The service parameter "Имя файла для сохранения протокола" (short name of four blanks);
  // its value is the current day file's name. Only the UI thread changes it, through start(),
  // daily_tick() and set_file_name().
  Parameter& file_parameter() { return *parameter_; }

  void set_packing_hook(PackingHook hook) { packing_ = std::move(hook); }
  // Called after the daily change has set the new name: the views show it.
  void set_views_changed(std::function<void()> refresh) { views_changed_ = std::move(refresh); }

  // Document start: today's file becomes the current one and the older days are packed.
  void start();
  // The one-second timer: at 09:12 local time (every tick of that minute, not at midnight)
  // today's file becomes the current one, the views are refreshed and the older days packed.
  // True when the change ran.
  bool daily_tick();

  bool recording() const;
  void set_recording(bool on);

  // The engineer's edit of the file name: ".log" is added when missing; a name with "/", or
  // one that would not name a file in the protocol folder ("", ".", ".."), is refused with a
  // box through the prompter (when given) and the old name stays. True when taken.
  bool set_file_name(std::string_view typed, Prompter* prompter);
  // The name an edit would give, or nothing when it is refused.
  static std::optional<std::string> accepted_file_name(std::string_view typed);

  std::string current_file() const;
  std::filesystem::path protocol_folder() const { return directory_ / kProtocolFolder; }
  std::filesystem::path current_path() const { return protocol_folder() / current_file(); }

  // A delivered poll: appends its record to the current day file when recording is on. A file
  // that cannot be opened or written loses this record only. True when a record was written.
  bool record(const PollSnapshot& poll);
  // The record of a poll, whether or not recording is on.
  static MeasurementRecord record_of(const PollSnapshot& poll);

 private:
  void set_current(std::string name);
  void pack_older_days();

  std::filesystem::path directory_;
  WallClock wall_;
  std::unique_ptr<Parameter> parameter_;
  PackingHook packing_;
  std::function<void()> views_changed_;

  mutable std::mutex mutex_;
  std::string current_;
  bool recording_ = false;
};

}  // namespace kba604
