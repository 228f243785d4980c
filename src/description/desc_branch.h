// DescBranch: a branch of a description tree. It lists parameters of the device's table (it
// owns none), owns its child branches and connectors, and knows how it is walked, shown and
// exported. Connector: a link text attached to a branch, computed from the value of one of the
// branch's parameters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "description/elements.h"
#include "model/parameter_line.h"

namespace kba604 {

class DescBranch;

class Connector {
 public:
  Connector(std::string name, std::string branch_name, std::string templ, std::string key,
            std::int32_t lower, std::int32_t upper)
      : name(std::move(name)),
        branch_name(std::move(branch_name)),
        templ(std::move(templ)),
        key(std::move(key)),
        lower(lower),
        upper(upper) {}

  // Text for a number computed by the owning branch: "противоречия!" for lower − 2, "Нет
  // данных" for lower − 1, the template with every "#" replaced by number − lower + 1 (or
  // that value appended when the template has none); "_" becomes a space in every case.
  std::string text_for(std::int64_t number) const;

  std::string name;
  std::string branch_name;
  std::string templ;  // "#" stands for the number
  std::string key;    // short name of the parameter that gives the number
  std::int32_t lower;
  std::int32_t upper;
};

// Hands branches to whoever walks the tree for its own purpose.
class BranchVisitor {
 public:
  virtual ~BranchVisitor() = default;
  virtual void visit(DescBranch& branch) = 0;
};

class DescBranch : public Elements::InvisibleElement {
 public:
  // The provisional names of the tree loader: a root before its record is read, and a child.
  static constexpr const char* kRootName = "Корень";
  static constexpr const char* kChildName = "<?}";
  // The connector node's image, and the text shown for a connector without data.
  static constexpr int kConnectorImage = 46;
  static constexpr const char* kNoDataPlaceholder = "???";

  DescBranch(std::string name, std::int32_t construction_value, std::int32_t value0 = 0,
             std::int32_t image = 0, std::int32_t selected_image = 0);

  std::int32_t construction_value() const { return construction_value_; }
  std::int32_t record_value(int i) const { return values_[i]; }
  void set_record_values(std::int32_t v0, std::int32_t image, std::int32_t selected_image);

  const std::vector<std::unique_ptr<DescBranch>>& children() const { return children_; }
  DescBranch& add_child(std::unique_ptr<DescBranch> child);
  const std::vector<std::unique_ptr<Connector>>& connectors() const { return connectors_; }
  Connector& add_connector(std::unique_ptr<Connector> connector);

  // A branch excluded from writing writes nothing, nor does anything below it.
  bool excluded_from_writing() const { return excluded_; }
  // Marks this branch and every branch below it.
  void exclude_from_writing();
  bool connectors_inserted() const { return connectors_inserted_; }

  // The branch's parameters belong to the device's table: nothing is deleted.
  void DeleteParameters() override;
  // The walks: this branch's parameters, then each child branch; the counts add up. Zero
  // counts at once when the operation is to stop. A branch announces itself in the log.
  WalkCounts CompareAll(ParameterOperations& ops) override;
  WalkCounts ReadAll(ParameterOperations& ops) override;
  WalkCounts WriteByMode(ParameterOperations& ops, int mode) override;
  // Own values, then each child's.
  void ResetValues() override;
  // The branch and everything below it: name, count, parameters, construction value and first
  // record value, then the child branches.
  void Serialize(Archive& ar) override;

  int tree_image() const override { return values_[1]; }
  int selected_tree_image() const override { return values_[2]; }

  // Fills the view with this branch and everything below it. A child branch with no children,
  // no connectors and exactly one parameter is not shown as a node: its parameter is shown
  // directly under this branch, titled with the child's name.
  void fill_view(TreeSink& sink, ViewRow parent);
  // The connectors' nodes, once, after all the branch's parameters are in the view.
  void insert_connectors(TreeSink& sink);
  // Whether the branch would be shown as its only parameter.
  bool collapses_to_parameter() const;

  // The number a connector of this branch stands for: lower − 1 when no parameter gives one,
  // lower − 2 when two give different numbers.
  std::int64_t connector_number(const Connector& connector) const;
  std::string connector_text(const Connector& connector) const;
  // Whether other's effective name contains the current text of any of this branch's
  // connectors.
  bool connection_test(const Elements::InvisibleElement& other) const;

  void accept(BranchVisitor& visitor) { visitor.visit(*this); }

  // The first branch, depth-first from this one, whose own list holds the parameter.
  DescBranch* find_branch_listing(const Parameter& parameter);

  // Rows of the parameter-list export from this branch down, appended to lines. caption is the
  // path of this branch (empty at the root).
  void collect_parameter_lines(std::vector<ParameterLine>& lines, const std::string& caption,
                               Prompter* prompter);

 private:
  std::int64_t connector_number_in(const Connector& connector) const;

  std::int32_t construction_value_;
  std::int32_t values_[3];
  std::vector<std::unique_ptr<DescBranch>> children_;
  std::vector<std::unique_ptr<Connector>> connectors_;
  bool excluded_ = false;
  bool connectors_inserted_ = false;
};

}  // namespace kba604
