#include "operations/setup_carrier.h"

#include "app/start_options.h"
#include "link/net_rs485.h"
#include "link/network_rules.h"
#include "model/value_format.h"
#include "operations/connection_check.h"
#include "platform/text.h"

namespace kba604::PreStart {
namespace {

// The instrument's factory network settings, and the port the program then uses.
struct FactorySetting {
  const char* name;
  const char* value;
};
constexpr FactorySetting kFactorySettings[] = {
    {"bPS", "9600"}, {"LEn", "8"},   {"PrtY", "Отсутствует"}, {"Sbit", "1"},
    {"A.Len", "8"},  {"Addr", "16"}, {"Port", "COM1"},
};

}  // namespace

CSetupCarrier::CSetupCarrier(Device& device, SetupCarrierView& view)
    : device_(device), view_(view) {}

CSetupCarrier::~CSetupCarrier() {
  close();
}

void CSetupCarrier::OnInitDialog() {
  {
    std::lock_guard lock(mutex_);
    rows_.clear();
    for (const Parameter* p : device_.program_settings().parameters()) {
      rows_.push_back({p->short_name, p->title, p->value});
    }
  }
  finished_.reset();
  thread_.start([this] { worker(); });
}

std::vector<CSetupCarrier::Row> CSetupCarrier::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::optional<BoxMessage> CSetupCarrier::edit_row(std::size_t row, std::string_view text) {
  // The dialog keeps the table disabled meanwhile; an edit that slips through is not taken.
  if (busy_.load()) return BoxMessage{};
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return std::nullopt;
    name = rows_[row].name;
  }
  Elements::NetRS485prg& element = device_.program_settings();
  // The engineer may have plugged the adapter in while the dialog was open: the port is one of
  // the ports present now.
  if (platform::iequals(name, "Port")) element.refresh_port_list();
  if (std::optional<BoxMessage> refusal = check_network_edit(element, name, text)) return refusal;
  Parameter* p = element.FindByName(name);
  if (p == nullptr) return std::nullopt;
  // A list value is one of its items (the table offers them as a choice).
  const ValueFormat format = p->parsed_format();
  if (format.kind == FormatKind::ItemList && find_item(format.items, text) < 0) {
    return p->assignment_failure(kNotAcceptable, text);
  }
  const int result = p->AssignFromText(text, &device_.app().prompter());
  if (result != kAssigned) return p->assignment_failure(result, text);
  std::lock_guard lock(mutex_);
  rows_[row].value = p->value;
  return std::nullopt;
}

void CSetupCarrier::OnConnect() {
  if (finished_.is_set() || busy_.exchange(true)) return;
  view_.enable_table(false);
  view_.show_status(kScanningStatus, false);
  connect_.set();
}

void CSetupCarrier::OnScan() {
  if (finished_.is_set() || busy_.exchange(true)) return;
  view_.enable_table(false);
  scan_.set();
}

void CSetupCarrier::OnFactorySettings() {
  if (finished_.is_set() || busy_.exchange(true)) return;
  view_.enable_table(false);
  for (const FactorySetting& s : kFactorySettings) {
    if (std::optional<std::size_t> row = row_of(s.name)) set_row(*row, s.value);
  }
  view_.show_status(kScanningStatus, false);
  connect_.set();
}

void CSetupCarrier::OnOffline() {
  if (!finished_.is_set()) {
    interrupt(PendingCommand::Offline);
    return;
  }
  // Working offline: nothing is read by itself, and no other mode of the command line stays.
  device_.app().options.mode_flags.store(StartOptions::kAutoReadOff);
  device_.app().modes.auto_read.store(false);
  end_dialog(kResultConnected);
}

void CSetupCarrier::OnExit() {
  if (!finished_.is_set()) {
    interrupt(PendingCommand::Exit);
    return;
  }
  end_dialog(kResultQuit);
}

void CSetupCarrier::complete(PendingCommand command) {
  if (command == PendingCommand::Offline) OnOffline();
  if (command == PendingCommand::Exit) OnExit();
}

void CSetupCarrier::interrupt(PendingCommand command) {
  view_.show_status(kInterruptingStatus, false);
  pending_.store(command);
  stop_.set();
  line_scan_stop_.set();
}

bool CSetupCarrier::begin_line_scan() {
  if (finished_.is_set() || stop_.is_set() || busy_.exchange(true)) return false;
  line_scan_stop_.reset();
  line_scan_.store(true);
  view_.enable_table(false);
  return true;
}

std::vector<FoundInstrument> CSetupCarrier::run_line_scan(const ScanPlan& plan,
                                                          const ScanListener& listener) {
  std::vector<FoundInstrument> found;
  {
    // A poll or a check never slips in between the probes, which move the port's speed.
    std::lock_guard lock(device_.link_lock());
    found = LineScan(device_.sio()).run(plan, &line_scan_stop_, listener);
  }
  // The port as it was: the program's settings, which the scan left alone.
  device_.reopen_port(false);
  line_scan_.store(false);
  busy_.store(false);
  view_.enable_table(true);
  return found;
}

std::optional<BoxMessage> CSetupCarrier::OnPickFound(const FoundInstrument& found) {
  if (finished_.is_set() || stop_.is_set() || busy_.load()) return BoxMessage{};
  Elements::NetRS485prg& element = device_.program_settings();
  std::string_view parity;
  switch (found.parity_code) {
    case 3:
      parity = Elements::kParityNone;
      break;
    case 1:
      parity = Elements::kParityEven;
      break;
    case 4:
      parity = Elements::kParityOdd;
      break;
    default:
      break;
  }
  if (parity.empty() ||
      !char_format_supported(found.data_bits, found.parity_code, found.stop_bits)) {
    return BoxMessage{std::string(kCharFormatRefusedText), std::string(kEditRefusedCaption),
                      PromptIcon::Warning};
  }
  const std::string address = std::to_string(found.address);
  if (std::optional<BoxMessage> refusal = check_network_edit(element, "Addr", address)) {
    return refusal;
  }
  if (busy_.exchange(true)) return BoxMessage{};
  view_.enable_table(false);
  const std::pair<const char*, std::string> values[] = {
      {"bPS", std::to_string(found.baud_rate)},
      {"LEn", std::to_string(found.data_bits)},
      {"PrtY", std::string(parity)},
      {"Sbit", std::to_string(found.stop_bits)},
      {"A.Len", std::to_string(found.address_length)},
      {"Addr", address},
  };
  for (const auto& [name, value] : values) {
    if (std::optional<std::size_t> row = row_of(name)) set_row(*row, value);
  }
  view_.show_status(kScanningStatus, false);
  connect_.set();
  return std::nullopt;
}

void CSetupCarrier::end_dialog(int result) {
  if (ended_.exchange(true)) return;
  view_.end_dialog(result);
}

void CSetupCarrier::close() {
  line_scan_stop_.set();
  if (!thread_.joinable()) return;
  stop_.set();
  // The worker works on this object and on the dialog's view, so it is never left running
  // behind them (a detached worker would use both after they are gone). Once stopped it makes
  // no further request, and the exchange in progress ends within the link's own repetition
  // limits, which at the lowest speed of the list and with a line full of garbage can take
  // longer than the usual limit of a join.
  thread_.join(-1);
}

void CSetupCarrier::worker() {
  for (;;) {
    const int which = platform::wait_any({&stop_, &connect_, &scan_}, -1);
    if (which == 1) {
      run_connect();
    } else if (which == 2) {
      run_scan();
    } else {
      break;
    }
  }
  finished_.set();
  const PendingCommand pending = pending_.exchange(PendingCommand::None);
  if (pending != PendingCommand::None) view_.post_command(pending);
}

void CSetupCarrier::run_connect() {
  view_.enable_table(false);
  bool connected = false;
  {
    std::lock_guard lock(device_.link_lock());
    connected = ConnectionCheck(device_, &stop_);
  }
  view_.enable_table(true);
  if (connected) {
    view_.show_status(kConnectedStatus, false);
    end_dialog(kResultConnected);
  } else if (!stop_.is_set()) {
    view_.show_status(kNotConnectedStatus, true);
  }
  connect_.reset();
  busy_.store(false);
}

void CSetupCarrier::run_scan() {
  view_.enable_table(false);
  Elements::NetRS485prg& element = device_.program_settings();
  const std::optional<std::size_t> row = row_of("bps");
  const Parameter* speed = element.FindByName("bPS");
  bool connected = false;
  if (row && speed != nullptr) {
    const std::string remembered = speed->value;
    for (const std::string& entry : parse_format(speed->format).items) {
      if (stop_.is_set()) break;
      set_row(*row, entry);
      view_.show_status(platform::format(std::string(kScanningAtStatus).c_str(), entry.c_str()),
                        false);
      std::lock_guard lock(device_.link_lock());
      connected = ConnectionCheck(device_, &stop_);
      if (connected) break;
    }
    if (!connected) set_row(*row, remembered);
  }
  if (connected) {
    view_.show_status(kConnectedStatus, false);
    view_.enable_table(true);
    // The scan is over; the worker waits for the dialog to close.
    scan_.reset();
    busy_.store(false);
    end_dialog(kResultConnected);
    return;
  }
  if (!stop_.is_set()) view_.show_status(kNotConnectedStatus, true);
  view_.enable_table(true);
  device_.reopen_port(false);
  scan_.reset();
  busy_.store(false);
}

void CSetupCarrier::set_row(std::size_t row, const std::string& value) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return;
    rows_[row].value = value;
    name = rows_[row].name;
  }
  device_.program_settings().SetValueByName(name, value, false);
  view_.show_row(row, value);
}

std::optional<std::size_t> CSetupCarrier::row_of(std::string_view name) const {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (platform::iequals(rows_[i].name, name)) return i;
  }
  return std::nullopt;
}

}  // namespace kba604::PreStart
