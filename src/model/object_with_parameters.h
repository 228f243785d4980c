// ObjectWithParameters: the base of every element of the parameter tree. It holds an ordered
// list of parameter references and the operations over that list. Elements of the description
// trees list parameters that belong to the device's table (add); the program's own elements
// own the parameters they list (add_owned). Ownership is recorded per parameter rather than
// by one flag for the whole list, so an element can never delete a parameter of the table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/prompter.h"
#include "model/archive.h"
#include "model/parameter.h"

namespace kba604 {

class ObjectWithParameters;

// Counts of one walk over parameters: those handled and those whose operation did not succeed
// (a non-zero result). Branches add up the counts of their children.
struct WalkCounts {
  int done = 0;
  int failed = 0;
  WalkCounts& operator+=(const WalkCounts& other) {
    done += other.done;
    failed += other.failed;
    return *this;
  }
  bool operator==(const WalkCounts&) const = default;
};

// What the walks ReadAll, WriteByMode and CompareAll need from the operation engine, which
// implements it: the per-parameter operations (their results: 0 done, anything else not done),
// the stop test made before and after each parameter, the progress counter and the log lines
// of branches. The walks run on the engine's worker thread; so do these calls.
class ParameterOperations {
 public:
  virtual ~ParameterOperations() = default;

  // True once the operation is to stop (the device's stop event, tested without waiting).
  virtual bool stop_requested() = 0;
  // The per-parameter operations. ReadParameter counts its parameter as done itself.
  virtual int ReadParameter(Parameter& parameter, bool count_timeouts) = 0;
  virtual int WriteParameter(Parameter& parameter, int mode) = 0;
  virtual int CompareParameter(Parameter& parameter) = 0;
  // Adds to the operation's count of handled parameters (the "%i из %i" of the progress).
  virtual void add_done(int count) = 0;
  // A branch announces itself in the progress log ("Читаем ветвь '...'").
  virtual void log_branch(const std::string& line) = 0;
};

// Where InsertIntoTree puts rows: the tree view in the program, a recorder in tests. Each call
// returns the handle of the new row, under which further rows may be inserted.
class TreeSink {
 public:
  virtual ~TreeSink() = default;
  // A row for a parameter; the view takes its texts and colour from the parameter's row.
  virtual ViewRow insert_parameter(ViewRow parent, Parameter& parameter) = 0;
  // A node with a text and its two images; element is the element the node stands for, or
  // none (a connector).
  virtual ViewRow insert_node(ViewRow parent, const std::string& text, int image,
                              int selected_image, ObjectWithParameters* element) = 0;
};

// Write modes of WriteByMode and WriteParameter.
inline constexpr int kWriteInitialise = -1;  // reference values of the description
inline constexpr int kWriteChanged = 0;      // parameters with a change flag
inline constexpr int kWriteAll = 1;          // every writable parameter
inline constexpr int kWriteAllFromRoot = 2;  // the same, walking the whole tree from its root

// Whether a walk in the given mode writes the parameter: a writable one always in modes 1 and
// 2, with a change flag in mode 0, with a reference value in mode -1; one that is not writable
// only with a reference value in mode -1, or, in the other modes, when it is check-only and
// the rule for writable ones lets it through.
bool will_write(const Parameter& parameter, int mode);

class ObjectWithParameters {
 public:
  ObjectWithParameters() = default;
  // Deletes the parameters it owns; the others are only forgotten.
  virtual ~ObjectWithParameters();
  ObjectWithParameters(const ObjectWithParameters&) = delete;
  ObjectWithParameters& operator=(const ObjectWithParameters&) = delete;

  // Each parameter's persistent record in list order.
  virtual void Serialize(Archive& ar);
  // Deletes every listed parameter that the element owns and empties the list; parameters
  // listed by reference belong to someone else and are only forgotten.
  virtual void DeleteParameters();
  // Value of the first parameter with that short name (without regard to case), or "".
  virtual std::string GetValueByName(std::string_view name) const;
  // The first parameter with that short name, or none.
  virtual Parameter* FindByName(std::string_view name) const;
  // Sets the value of the first parameter with that name; with mark_change, a text that
  // differs (without regard to case) from the old one also sets *changed*. 1 if found, else 0.
  virtual int SetValueByName(std::string_view name, std::string_view value, bool mark_change);
  // The walks over the list. Each returns zeros at once when the operation is to stop, and
  // stops after the parameter during which it was asked to.
  virtual WalkCounts CompareAll(ParameterOperations& ops);
  virtual WalkCounts ReadAll(ParameterOperations& ops);
  virtual WalkCounts WriteByMode(ParameterOperations& ops, int mode);
  // Inserts rows for the first count parameters (all when count is negative) under parent and
  // remembers how many are in the view; returns that number. Every call starts at the first
  // parameter, since a rebuilt view starts empty; insert_remaining_rows adds the rest later.
  virtual int InsertIntoTree(TreeSink& sink, ViewRow parent, int count);
  // The common linear index of the indexed parameters: the first check takes the first indexed
  // parameter's index; later checks warn (through prompter, when one is given) about every
  // indexed parameter with another index. Returns the common index (-1: none indexed).
  virtual int CheckLinearIndex(Prompter* prompter);
  // Sets the linear index of every indexed parameter and of the element.
  virtual void SetLinearIndex(int index);
  // 2 when any parameter has a change flag, else 0.
  virtual int ChangeState() const;
  // Every value "Нет данных", every note empty, editable 1, factory 0, change flags cleared.
  virtual void ResetValues();
  // Whether any note counts: not the not-initialised note, and, unless include_differences,
  // not a difference remark either.
  virtual bool HasNotes(bool include_differences) const;
  // Whether any parameter is changed, or with all_flags has an attribute change too.
  virtual bool HasChanges(bool all_flags) const;
  virtual bool HasNoData() const;

  // The list.
  const std::vector<Parameter*>& parameters() const { return parameters_; }
  std::size_t size() const { return parameters_.size(); }
  // Lists a parameter that belongs to someone else (the device's table).
  void add(Parameter& parameter) { parameters_.push_back(&parameter); }
  // Lists a parameter that this element owns from now on.
  Parameter& add_owned(std::unique_ptr<Parameter> parameter);
  // Whether the element owns any of the parameters it lists.
  bool owns_parameters() const { return !owned_.empty(); }
  // Whether a walk in this mode would write any parameter of the list (a branch logs its
  // "Пишем ветвь" line only then).
  bool writes_anything(int mode) const;
  // Inserts the rows that InsertIntoTree left out; returns how many.
  int insert_remaining_rows(TreeSink& sink, ViewRow parent);

  int linear_index() const { return linear_index_; }
  int inserted_rows() const { return inserted_rows_; }

 protected:
  std::vector<Parameter*> parameters_;
  // Common linear index of the indexed parameters; -1 until known.
  int linear_index_ = -1;
  // Rows already inserted into the view.
  int inserted_rows_ = 0;

 private:
  std::vector<std::unique_ptr<Parameter>> owned_;
};

}  // namespace kba604
