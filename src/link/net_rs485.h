// The RS-485 network settings as elements of the tree, so that the view shows and edits them like
// any other parameters: the instrument's own settings (read from and written to it) and the
// program's settings (kept in the settings file; the serial port takes its settings from them).
#pragma once

#include <atomic>
#include <functional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "description/elements.h"
#include "platform/settings_store.h"

namespace kba604::Elements {

class NetRS485 : public InvisibleElement {
 public:
  // Builds the six network parameters in their order: "bPS", "LEn", "PrtY", "Sbit", "A.Len",
  // "Addr", with their value lists; no attributes are ever exchanged for them.
  NetRS485();

  // Binds the instrument's element to the network branch of the description: its six settings
  // become the branch's parameters of the same names (parameters of the device's table, so
  // that what the element shows and changes is read, written and saved in configuration files
  // like any other parameter). A setting the branch lacks stays the element's own. none returns
  // to the element's own parameters; every reload of the description does that before the old
  // table goes, and binds again to the new branch afterwards.
  void bind(const ObjectWithParameters* network_branch);
  bool bound() const { return bound_; }

  // One line "caption: value" per network parameter.
  std::string network_summary() const override;
  // Forgets the binding together with the parameters.
  void DeleteParameters() override;

  static const char* const kInstrumentCaption;

 protected:
  explicit NetRS485(std::string caption);

 private:
  // The element's own six settings, in element order, whether listed or bound over.
  std::vector<Parameter*> own_;
  bool bound_ = false;
};

class NetRS485prg : public NetRS485 {
 public:
  // store: where the settings live (read now, written when they are taken into use and when
  // the element goes); none keeps them in memory only. port_list gives the present ports as
  // "COM1:COM3:…" for the value list of "Port".
  NetRS485prg(platform::SettingsStore* store, std::function<std::string()> port_list);
  ~NetRS485prg() override;

  // The network summary followed by "COM-порт: ", the port and a line break.
  std::string network_summary() const override;

  // Fills the values from the settings; a missing value gives the default of a port never
  // configured, a parity code other than 1, 3 or 4 shows as "<неверное значние>".
  void load();
  // Writes the values that read as settings; one that does not (an unreadable text) keeps what
  // the settings file had.
  void save() const;
  // While held, save() keeps what the settings file has: settings the port refused are used for
  // this run only, so that no later start fails on them.
  void hold_saving(bool hold) { hold_saving_.store(hold); }
  // Lists the present ports afresh as the values "Port" may take; the current port stays among
  // them even when its device is missing.
  void refresh_port_list();

  static const char* const kProgramCaption;
  static const char* const kInvalidParity;

 private:
  // The value lock of the program's settings (see Parameter::use_value_lock).
  mutable std::shared_mutex value_lock_;
  platform::SettingsStore* store_;
  std::function<std::string()> port_list_;
  std::atomic<bool> hold_saving_{false};
};

// Parity texts of the network settings and the parity codes of the serial port.
inline constexpr std::string_view kParityNone = "Отсутствует";
inline constexpr std::string_view kParityEven = "Четность";
inline constexpr std::string_view kParityOdd = "Нечетность";
// 3, 1 or 4 for the three texts (without regard to case); -1 for anything else.
int parity_code_of(std::string_view text);

}  // namespace kba604::Elements
