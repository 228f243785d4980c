// In-place editing of the tree's cells. Values of an item-list format, the attribute and the
// owner are chosen from a drop-down; any other cell gets an edit box that lets through only
// the characters the parameter's format can hold (a refused character beeps) and widens with
// its text up to the tree's width. Enter commits, Escape cancels, leaving the cell commits.
#pragma once

#include <QStyledItemDelegate>
#include <functional>

#include "model/parameter.h"

namespace kba604 {

class ParameterTreeModel;

// Whether an edit box for a value of this format takes the character (backspace and the
// editing keys are no characters and always pass).
bool format_accepts_character(std::string_view format, char32_t c);

class ParameterDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // access: the access level and the modification, for the item marks of item lists.
  ParameterDelegate(ParameterTreeModel& model, std::function<std::pair<int, int>()> access,
                    QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;

  // The items a drop-down offers for the parameter's value: the format's items without those
  // their marks hide at this access level and modification.
  static QStringList value_items(const Parameter& parameter, int access_level, int modification);

 private:
  ParameterTreeModel& model_;
  std::function<std::pair<int, int>()> access_;
};

}  // namespace kba604
