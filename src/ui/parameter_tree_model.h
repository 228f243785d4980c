// ParameterTreeModel: the rows of the main window's tree over the configuration document. It
// lays the rows out as the window shows them: the root "Конфигурация KBA604 (<title>)" with
// the instrument's element tree (or "Параметры прибора" when no description is loaded), the
// operational branch with its header row and one checkable row per polled parameter, and the
// second root "Параметры компьютера" with the program's own elements. Parameter rows take
// their texts and colour from the parameter's row presentation each time they are painted, so
// a changed value needs only a repaint of its row, never a rebuild.
//
// The model is filled through the element tree's own TreeSink walk (fill_view and
// InsertIntoTree), so the collapsing of one-parameter branches, the fixed texts of some
// elements and the connector rows come from the elements themselves.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "description/tooltips.h"
#include "model/object_with_parameters.h"

namespace kba604 {

class CKBA604Doc;

namespace Elements {
class InvisibleElement;
}

class ParameterTreeModel final : public QAbstractItemModel, private TreeSink {
  Q_OBJECT

 public:
  enum Column { kTitle = 0, kName, kValue, kAttribute, kOwner, kNote, kColumnCount };
  // Extra data roles.
  enum Role {
    // The row's text path (column 0 texts from the root, joined by '\n').
    kPathRole = Qt::UserRole + 1,
    // 1 for a row whose colour marks a problem (red or blue), else 0.
    kProblemRole,
    // The image number of an element or connector row; -1 for other rows.
    kImageRole,
  };
  // What a row stands for.
  enum class RowKind { Root, Element, Parameter, Connector, Placeholder, Header };

  // The texts of the fixed rows.
  static constexpr const char* kRootPrefix = "Конфигурация KBA604 (";
  static constexpr const char* kComputerRoot = "Параметры компьютера";
  static constexpr const char* kNoDescriptionTitle = "Параметры прибора";
  static constexpr const char* kNoDescriptionValue = "(не определены)";

  // What the model reads besides the document.
  struct Sources {
    // The program's own elements under "Параметры компьютера", in order.
    std::vector<Elements::InvisibleElement*> computer_elements;
    // Whether linear indexes are shown ("Показывать линейные индексы").
    std::function<bool()> show_indexes;
    // The end of an in-place edit of column 1 to 4 of a parameter row (the window applies the
    // rules of the edit's end); true when the value was taken.
    std::function<bool(Parameter&, int column, const QString& text, bool operational)> edit;
    // A polled row's check box: true arms, false disarms.
    std::function<void(Parameter&, bool on)> polling_switched;
    // The protocol-file row at the top of the operational branch (the measurement recording's
    // file name parameter); none: no such row. Its check box is the recording switch, its
    // value column the file name.
    Parameter* protocol_file = nullptr;
    std::function<bool()> recording_on;
    std::function<void(bool on)> recording_switched;
    // The engineer's edit of the file name; true when taken.
    std::function<bool(const QString& text)> protocol_file_edit;
  };

  explicit ParameterTreeModel(QObject* parent = nullptr);
  ~ParameterTreeModel() override;

  void set_sources(Sources sources) { sources_ = std::move(sources); }
  // For binding more of them after construction; a rebuild shows rows they add.
  Sources& sources() { return sources_; }
  // Rebuilds every row from the document (after loading a description or a configuration).
  // doc may be none: only the fixed rows then.
  void rebuild(CKBA604Doc* doc);
  // The root's title text changed: only the root row is repainted.
  void set_title(const std::string& title);
  // Help texts for the tooltips.
  void set_tooltips(Tooltips tooltips) { tooltips_ = std::move(tooltips); }
  // Repaints every row (values, notes or display modes changed).
  void refresh_all();
  // Repaints the rows of one parameter (a poll, an edit, an exchange of one parameter).
  void refresh_parameter(const Parameter* parameter);
  // Repaints the rows of the parameters with this key (a poll notification names a key).
  void refresh_key(std::uint32_t key);
  // Forgets every reference into the element tree (before the description is reloaded).
  void clear();

  // What a row stands for; Root for an invalid index.
  RowKind kind(const QModelIndex& index) const;
  Parameter* parameter(const QModelIndex& index) const;
  ObjectWithParameters* element(const QModelIndex& index) const;
  // Whether the row is a polled row of the operational branch.
  bool operational(const QModelIndex& index) const;
  // Whether the row is the protocol-file row of the operational branch.
  bool protocol_file_row(const QModelIndex& index) const;
  // The row of a text path, or an invalid index.
  QModelIndex find_path(const QString& path) const;
  // The first row of the parameter, or an invalid index.
  QModelIndex index_of(const Parameter* parameter) const;
  // The tooltip of a parameter: its help text and its range sentence.
  QString tooltip(const Parameter& parameter) const;
  // Number of rows in the whole tree (for benchmarks and tests).
  int total_rows() const { return static_cast<int>(all_.size()); }

  // QAbstractItemModel
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Node;

  // TreeSink: the element walks insert rows here.
  ViewRow insert_parameter(ViewRow parent, Parameter& parameter) override;
  ViewRow insert_node(ViewRow parent, const std::string& text, int image, int selected_image,
                      ObjectWithParameters* element) override;

  Node* add(Node* parent, std::unique_ptr<Node> node);
  QVariant protocol_file_data(const Parameter& parameter, int column, int role) const;
  Node* node(const QModelIndex& index) const;
  QModelIndex index_of(const Node* node, int column) const;
  void emit_row_changed(const Node* node);
  void emit_changed_below(const Node* node);

  Sources sources_;
  Tooltips tooltips_;
  std::unique_ptr<Node> invisible_root_;
  Node* root_ = nullptr;
  std::vector<Node*> all_;
  std::unordered_multimap<const Parameter*, Node*> by_parameter_;
};

}  // namespace kba604
