// Parameter: one quantity of the instrument, configurable or measured. It adds to its value
// (MyConverter) the title, the linear index and address offset of its requests, the access
// attributes the instrument keeps for it, the change flags and note of the program's
// bookkeeping, the reference value of the description and, for an operational parameter, its
// polling state.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/prompter.h"
#include "model/archive.h"
#include "model/exchange_outcome.h"
#include "model/my_converter.h"

namespace kba604 {

class ParameterTable;

// A row handle of the tree view; 0 is no row. The view gives the values out; the model only
// keeps them.
using ViewRow = std::uintptr_t;

// Text colour of a row, as red, green and blue bytes.
struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kRowRed{213, 0, 0};     // a note from a failed exchange
inline constexpr Rgb kRowBlue{64, 64, 255};  // the instrument holds another value
inline constexpr Rgb kRowGreen{0, 187, 0};   // changed in the program, not yet written
inline constexpr Rgb kRowBlack{0, 0, 0};

// The three kinds of row icon.
enum class RowIcon {
  WritableItemList,  // a writable parameter whose format is an item list
  Writable,          // a writable parameter of any other format
  ReadOnly,
};

// What a parameter shows in its row of the tree view.
struct ParameterRow {
  std::string name;  // short name, with ":" and the linear index when indexes are shown
  std::string value;
  std::string attribute;  // "Редактируемый", "Не редактируемый", "см. выше", "Нет данных" or ""
  std::string owner;  // "Завод", "Пользователь", "см. выше", "Нет данных" or ""
  std::string note;
  Rgb colour;
  RowIcon icon = RowIcon::ReadOnly;
};

// A message box the caller shows: text, caption and icon.
struct BoxMessage {
  std::string text;
  std::string caption;
  PromptIcon icon = PromptIcon::None;
};

// Results of AssignFromText.
inline constexpr int kAssigned = 0;
inline constexpr int kNotAcceptable = 1;  // outside the limits, or not acceptable
inline constexpr int kBadFormat = 2;

class Parameter : public MyConverter {
 public:
  static constexpr std::int32_t kDefaultPollingPeriodMs = 1000;

  Parameter() = default;
  // Empties the role slot that holds this parameter and releases its polling timer.
  ~Parameter() override;
  // A parameter has one owner and may be referenced from role slots and views: it never moves.
  Parameter(const Parameter&) = delete;
  Parameter& operator=(const Parameter&) = delete;

  // The persistent record of configuration files and element persistence, both directions.
  // Loading converts an item position back into the item text and raises ArchiveError when
  // the data end or are malformed.
  virtual void Serialize(Archive& ar);

  // The value as configuration files and EEPROM images store it: for an item list the decimal
  // position of the item ("-1" when the value is none of the items), otherwise the text.
  std::string stored_value() const;
  // The value read back from its stored form: a position or an item text (without regard to
  // case) selects the item, anything else becomes "Нет данных"; other formats and an empty
  // text take the text as it is.
  std::string value_from_stored(std::string stored) const;

  // A text typed by the user becomes the value when the format accepts it: kAssigned (value
  // replaced, *changed* set), kNotAcceptable or kBadFormat (value unchanged; the caller shows
  // assignment_failure). When the automatic precision of "STORED_DOT" drops digits, the
  // warning "Параметру присвоено значение …" is shown through prompter, if one is given.
  virtual int AssignFromText(std::string_view text, Prompter* prompter);

  // The message box for a failed assignment of typed (result kNotAcceptable or kBadFormat).
  BoxMessage assignment_failure(int result, std::string_view typed) const;

  // The sentence on the value's range for the tooltip, or "" when there is none (equal
  // limits, a polled parameter, a format without a range). For "Addr" the maximum is
  // 2^address_length_bits - 1 when the length of the address ("A.Len") is given.
  std::string range_description(std::optional<int> address_length_bits = std::nullopt) const;

  // The display title when one is set, otherwise the title.
  const std::string& shown_title() const { return display_title.empty() ? title : display_title; }
  // Bits 0 and 1 of the access mask both set.
  bool writable() const { return (access_mask & 3) == 3; }
  bool any_change() const { return changed || editability_changed || owner_changed; }
  // A note that marks the row: anything but the not-initialised note.
  bool has_problem_note() const;
  // The note of a comparison that found another value in the instrument.
  bool has_difference_note() const;
  bool has_no_data() const;

  // Key of configuration files and EEPROM images: the linear index (0xFFFF when not indexed)
  // in the upper half, the name hash in the lower half.
  std::uint32_t key() const;

  // Row presentation for the tree view. show_indexes is the option "Показывать линейные
  // индексы".
  ParameterRow row(bool show_indexes) const;
  std::string attribute_text() const;
  std::string owner_text() const;
  Rgb row_colour() const;
  RowIcon row_icon() const;

  // Polling timer. Only the parameters of the operational branch own one; creating it also
  // clears the indexed mark, so operational parameters are never indexed. The scanners keep
  // the due times: arming sets the first one a period from now.
  void create_polling_timer();
  bool owns_polling_timer() const { return owns_timer_; }
  // 1 when there is no timer or it is already armed; otherwise arms it and returns 0.
  int ArmTimer(std::int64_t now_ms);
  // 1 when there is no timer or it is not armed; otherwise disarms it and returns 0.
  int DisarmTimer();
  bool timer_armed() const { return timer_armed_.load(); }
  std::int32_t polling_period() const { return polling_period_.load(); }
  void set_polling_period(std::int32_t ms) { polling_period_.store(ms); }
  std::int64_t next_due_ms() const { return next_due_ms_.load(); }
  void set_next_due_ms(std::int64_t ms) { next_due_ms_.store(ms); }

  // Whether a device role slot or role table entry refers to this parameter.
  bool in_role_slot() const { return role_slot_ != nullptr; }

  // The value lock of the table the parameter belongs to (none for a parameter of its own, such
  // as a comparison's copy). See ValueWriteLock.
  std::shared_mutex* value_lock() const { return value_lock_; }
  // Puts a parameter that belongs to no table under a lock of its owner's: the program's own
  // line settings are edited in the tree, read by the link and the indicator and changed by the
  // connection search and APLY, each on its own thread.
  void use_value_lock(std::shared_mutex* lock) { value_lock_ = lock; }
  // The row presentation read under the value lock: what a view or the control channel reads
  // while a worker may be changing the parameter.
  ParameterRow locked_row(bool show_indexes) const;

  bool indexed = false;
  std::string title{kUnknownTitle};
  // Replaces the title in rows and messages when not empty.
  std::string display_title;
  bool changed = false;
  bool editability_changed = false;
  bool owner_changed = false;
  // Left by the last operation: an error text, a difference remark or the not-initialised note.
  std::string note;
  // How the last exchange of this parameter ended; the note holds its words. Not stored in
  // files: a note read back from a file comes with a Success outcome.
  ExchangeOutcome outcome;
  // Bit 0 cleared by the description for a read-only parameter, bit 1 by a tree reference.
  std::uint8_t access_mask = 7;
  // Attributes the instrument keeps: the operator may edit the value; the parameter belongs
  // to the factory (true) or to the user.
  bool editable = true;
  bool factory = false;
  // 0: no attributes; 1: ordinary attributes; N > 1: attributes only for every N-th index.
  std::int32_t attribute_multiplicity = 0;
  // Added to the instrument's network address for this parameter; -1 sends to address 255.
  std::int32_t address_offset = 0;
  // Sent with requests when indexed; a negative index makes read and write skip the parameter.
  std::int32_t linear_index = 0;
  std::int32_t reserved_number = 0;
  bool description_flag = false;
  // The description's role code when it names no device slot; 0 otherwise.
  std::int32_t role_code = 0;
  ViewRow view_row = 0;
  // Default or expected value from the description, in display form.
  std::string reference_value;
  // Initialisation first compares the instrument's value with the reference value.
  bool check_only = false;
  bool from_description = false;
  // One mark per item of an item-list format: "", "h" or "h" with modification numbers.
  std::vector<std::string> item_marks;

 private:
  friend class ParameterTable;

  Parameter** role_slot_ = nullptr;
  std::shared_mutex* value_lock_ = nullptr;
  bool owns_timer_ = false;
  std::atomic<bool> timer_armed_{false};
  std::atomic<std::int32_t> polling_period_{kDefaultPollingPeriodMs};
  std::atomic<std::int64_t> next_due_ms_{0};
};

// The table's value lock around what exchanges and edits change in a parameter: its value,
// note, outcome, attributes, change flags and last reply. Workers (the operation worker, the
// scanners) and the UI thread change them only while holding it exclusively (ValueWriteLock);
// a thread that reads them while another may change them (a view painting, the control
// channel) holds it shared (ValueReadLock). It is held for a few field copies only, never
// across an exchange with the instrument and never while waiting for anything. The thread
// that alone changes a parameter may read it without the lock. For a parameter outside a
// table both do nothing.
class ValueWriteLock {
 public:
  explicit ValueWriteLock(const Parameter& parameter) : lock_(parameter.value_lock()) {
    if (lock_ != nullptr) lock_->lock();
  }
  ~ValueWriteLock() {
    if (lock_ != nullptr) lock_->unlock();
  }
  ValueWriteLock(const ValueWriteLock&) = delete;
  ValueWriteLock& operator=(const ValueWriteLock&) = delete;

 private:
  std::shared_mutex* lock_;
};

class ValueReadLock {
 public:
  explicit ValueReadLock(const Parameter& parameter) : lock_(parameter.value_lock()) {
    if (lock_ != nullptr) lock_->lock_shared();
  }
  ~ValueReadLock() {
    if (lock_ != nullptr) lock_->unlock_shared();
  }
  ValueReadLock(const ValueReadLock&) = delete;
  ValueReadLock& operator=(const ValueReadLock&) = delete;

 private:
  std::shared_mutex* lock_;
};

}  // namespace kba604
