#include "ui/parameter_delegate.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

#include "model/value_format.h"
#include "platform/text.h"
#include "ui/parameter_tree_model.h"

namespace kba604 {
namespace {

// The character classes of the edit box, by the format's first token or whole name.
enum class Filter { Digits, Decimal, Clock, Name, Any };

Filter filter_of(std::string_view format) {
  const std::string_view first = format.substr(0, format.find(':'));
  if (platform::iequals(first, "dec_dot")) return Filter::Digits;
  if (platform::iequals(first, "stored_dot") || platform::iequals(first, "float")) {
    return Filter::Decimal;
  }
  if (platform::iequals(first, "clk_frm")) return Filter::Clock;
  if (platform::iequals_any(format, {"name", "ASCI", "string"})) return Filter::Name;
  return Filter::Any;
}

bool ascii_letter_or_digit(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The letters of the Windows-1251 code page besides the Latin ones: Cyrillic А–я, Ё ё and the
// Ukrainian and Belarusian letters.
bool cp1251_letter(char32_t c) {
  if (c >= 0x0410 && c <= 0x044F) return true;
  switch (c) {
    case 0x0401: case 0x0451: case 0x0402: case 0x0452: case 0x0403: case 0x0453:
    case 0x0404: case 0x0454: case 0x0405: case 0x0455: case 0x0406: case 0x0456:
    case 0x0407: case 0x0457: case 0x0408: case 0x0458: case 0x0409: case 0x0459:
    case 0x040A: case 0x045A: case 0x040B: case 0x045B: case 0x040C: case 0x045C:
    case 0x040E: case 0x045E: case 0x040F: case 0x045F: case 0x0490: case 0x0491:
      return true;
    default:
      return false;
  }
}

// Edit box events: refused characters beep and are dropped; the box widens with its text.
class CellEditFilter final : public QObject {
 public:
  CellEditFilter(QLineEdit* edit, std::string format, QWidget* tree)
      : QObject(edit), edit_(edit), format_(std::move(format)), tree_(tree) {
    edit->installEventFilter(this);
    QObject::connect(edit, &QLineEdit::textChanged, this, [this] { widen(); });
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.isEmpty() || key->key() == Qt::Key_Backspace) return false;
    for (char32_t c : text.toUcs4()) {
      if (c < 0x20 || c == 0x7F) return false;  // editing keys, Enter, Escape
      if (!format_accepts_character(format_, c)) {
        QApplication::beep();
        return true;
      }
    }
    return false;
  }

 private:
  void widen() {
    const int wanted = edit_->fontMetrics().horizontalAdvance(edit_->text()) + 5;
    // The tree's client width: the viewport the edit box lives in, without frame or scroll bar.
    const QWidget* client = edit_->parentWidget() != nullptr ? edit_->parentWidget() : tree_;
    const int limit = client != nullptr ? client->width() : wanted;
    if (wanted > edit_->width()) edit_->resize(std::min(wanted, limit), edit_->height());
  }

  QLineEdit* edit_;
  std::string format_;
  QWidget* tree_;
};

const char* const kAttributeItems[] = {"Редактируемый", "Не редактируемый"};
const char* const kOwnerItems[] = {"Завод", "Пользователь"};

}  // namespace

bool format_accepts_character(std::string_view format, char32_t c) {
  switch (filter_of(format)) {
    case Filter::Digits:
      return (c >= '0' && c <= '9') || c == '-';
    case Filter::Decimal:
      // "," is taken too: the edit's end turns it into the point.
      return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ',';
    case Filter::Clock:
      return (c >= '0' && c <= '9') || c == ':';
    case Filter::Name:
      return ascii_letter_or_digit(c) || cp1251_letter(c) || c == '.' || c == '-' || c == ' ' ||
             c == '_' || c == '/';
    case Filter::Any:
      break;
  }
  return true;
}

ParameterDelegate::ParameterDelegate(ParameterTreeModel& model,
                                     std::function<std::pair<int, int>()> access, QObject* parent)
    : QStyledItemDelegate(parent), model_(model), access_(std::move(access)) {}

QStringList ParameterDelegate::value_items(const Parameter& parameter, int access_level,
                                           int modification) {
  QStringList items;
  const ValueFormat format = parameter.parsed_format();
  if (format.kind != FormatKind::ItemList) return items;
  for (std::size_t i = 0; i < format.items.size(); ++i) {
    const std::string mark = i < parameter.item_marks.size() ? parameter.item_marks[i] : "";
    if (item_hidden(mark, access_level, modification)) continue;
    items << QString::fromStdString(format.items[i]);
  }
  return items;
}

QWidget* ParameterDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  Parameter* p = model_.parameter(index);
  if (p == nullptr) return nullptr;
  const int column = index.column();
  const bool operational = model_.operational(index);
  QStringList items;
  if (column == ParameterTreeModel::kValue && p->is_item_list()) {
    const auto [level, modification] = access_ ? access_() : std::pair<int, int>{2, 0};
    items = value_items(*p, level, modification);
  } else if (column == ParameterTreeModel::kAttribute && !operational) {
    for (const char* t : kAttributeItems) items << QString::fromUtf8(t);
  } else if (column == ParameterTreeModel::kOwner && !operational) {
    for (const char* t : kOwnerItems) items << QString::fromUtf8(t);
  }
  if (!items.isEmpty()) {
    auto* combo = new QComboBox(parent);
    combo->addItems(items);
    combo->setFrame(false);
    // A choice in the list ends the edit as Enter does.
    connect(combo, &QComboBox::activated, this, [this, combo] {
      emit const_cast<ParameterDelegate*>(this)->commitData(combo);
      emit const_cast<ParameterDelegate*>(this)->closeEditor(combo);
    });
    return combo;
  }
  auto* edit = new QLineEdit(parent);
  edit->setFrame(false);
  // The period column of a polled row holds milliseconds.
  const std::string format = (operational && column == ParameterTreeModel::kName)
                                 ? std::string("DEC_dot")
                                 : (column == ParameterTreeModel::kValue ? p->format : "");
  QWidget* tree = option.widget ? const_cast<QWidget*>(option.widget) : parent;
  new CellEditFilter(edit, format, tree);
  return edit;
}

void ParameterDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  // The view hands every repaint of the edited row to its open editor: a polled row is
  // repainted at each poll, which would throw away what the engineer is typing. The editor
  // takes the cell's text once, when it opens.
  static const char* const kFilled = "kba604CellTextSet";
  if (editor->property(kFilled).toBool()) return;
  editor->setProperty(kFilled, true);
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    const int at = combo->findText(text, Qt::MatchFixedString);
    combo->setCurrentIndex(at >= 0 ? at : 0);
    return;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
    edit->selectAll();
  }
}

void ParameterDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
  QString text;
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    text = combo->currentText();
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    text = edit->text();
  } else {
    return;
  }
  model->setData(index, text, Qt::EditRole);
}

void ParameterDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex&) const {
  editor->setGeometry(option.rect);
}

}  // namespace kba604
