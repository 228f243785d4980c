#include "ui/parameter_tree_model.h"

#include <QBrush>
#include <QColor>

#include "files/kba604_doc.h"
#include "measurement/recording.h"
#include "ui/translation.h"
#include "ui/tree_icons.h"

namespace kba604 {

namespace {

QColor colour(Rgb rgb) {
  return QColor(rgb.red, rgb.green, rgb.blue);
}

// The header row of the operational branch.
const char* const kHeaderTexts[ParameterTreeModel::kColumnCount] = {
    QT_TRANSLATE_NOOP("kba604::ParameterTreeModel", "     Имя параметра"),
    QT_TRANSLATE_NOOP("kba604::ParameterTreeModel", "Период, мс"),
    QT_TRANSLATE_NOOP("kba604::ParameterTreeModel", "Значение"),
    "",
    "",
    QT_TRANSLATE_NOOP("kba604::ParameterTreeModel", "Ошибки ввода-вывода")};

// Every polled parameter of the operational tree, in tree order: the branch's own list first,
// then its sub-branches.
void collect_polled(const DescBranch& branch, std::vector<Parameter*>& out) {
  for (Parameter* p : branch.parameters()) {
    if (p->owns_polling_timer()) out.push_back(p);
  }
  for (const auto& child : branch.children()) collect_polled(*child, out);
}

}  // namespace

struct ParameterTreeModel::Node {
  RowKind kind = RowKind::Element;
  Node* parent = nullptr;
  int row = 0;
  std::vector<std::unique_ptr<Node>> children;
  QString text;  // column 0 of a node
  QString value;  // column 2 of the placeholder row
  int image = -1;
  ObjectWithParameters* element = nullptr;
  Parameter* parameter = nullptr;
  bool operational = false;
  bool protocol_file = false;
};

ParameterTreeModel::ParameterTreeModel(QObject* parent)
    : QAbstractItemModel(parent), invisible_root_(std::make_unique<Node>()) {}

ParameterTreeModel::~ParameterTreeModel() = default;

ParameterTreeModel::Node* ParameterTreeModel::add(Node* parent, std::unique_ptr<Node> node) {
  node->parent = parent;
  node->row = static_cast<int>(parent->children.size());
  Node* raw = node.get();
  parent->children.push_back(std::move(node));
  all_.push_back(raw);
  if (raw->parameter != nullptr) by_parameter_.emplace(raw->parameter, raw);
  return raw;
}

ViewRow ParameterTreeModel::insert_parameter(ViewRow parent, Parameter& parameter) {
  auto node = std::make_unique<Node>();
  node->kind = RowKind::Parameter;
  node->parameter = &parameter;
  Node* p = parent != 0 ? reinterpret_cast<Node*>(parent) : root_;
  return reinterpret_cast<ViewRow>(add(p, std::move(node)));
}

ViewRow ParameterTreeModel::insert_node(ViewRow parent, const std::string& text, int image, int,
                                        ObjectWithParameters* element) {
  auto node = std::make_unique<Node>();
  node->kind = element != nullptr ? RowKind::Element : RowKind::Connector;
  node->text = utf8_text(text);
  node->image = image;
  node->element = element;
  Node* p = parent != 0 ? reinterpret_cast<Node*>(parent) : root_;
  return reinterpret_cast<ViewRow>(add(p, std::move(node)));
}

void ParameterTreeModel::clear() {
  beginResetModel();
  invisible_root_->children.clear();
  all_.clear();
  by_parameter_.clear();
  root_ = nullptr;
  endResetModel();
}

void ParameterTreeModel::rebuild(CKBA604Doc* doc) {
  beginResetModel();
  invisible_root_->children.clear();
  all_.clear();
  by_parameter_.clear();

  auto root = std::make_unique<Node>();
  root->kind = RowKind::Root;
  root->text = QString::fromUtf8(kRootPrefix) + (doc ? utf8_text(doc->title()) : QString()) + ")";
  root_ = add(invisible_root_.get(), std::move(root));

  DescBranch* main = doc ? doc->main_tree() : nullptr;
  if (main != nullptr) {
    main->fill_view(*this, reinterpret_cast<ViewRow>(root_));
  } else {
    auto none = std::make_unique<Node>();
    none->kind = RowKind::Placeholder;
    none->text = QString::fromUtf8(kNoDescriptionTitle);
    none->value = QString::fromUtf8(kNoDescriptionValue);
    none->image = 0;
    add(root_, std::move(none));
  }

  if (DescBranch* op = doc ? doc->operational_tree() : nullptr) {
    Node* branch = reinterpret_cast<Node*>(op->insert_node(*this, reinterpret_cast<ViewRow>(root_)));
    if (sources_.protocol_file != nullptr) {
      auto file = std::make_unique<Node>();
      file->kind = RowKind::Parameter;
      file->parameter = sources_.protocol_file;
      file->protocol_file = true;
      add(branch, std::move(file));
    }
    auto header = std::make_unique<Node>();
    header->kind = RowKind::Header;
    add(branch, std::move(header));
    std::vector<Parameter*> polled;
    collect_polled(*op, polled);
    for (Parameter* p : polled) {
      auto row = std::make_unique<Node>();
      row->kind = RowKind::Parameter;
      row->parameter = p;
      row->operational = true;
      add(branch, std::move(row));
    }
  }

  auto computer = std::make_unique<Node>();
  computer->kind = RowKind::Root;
  computer->text = QString::fromUtf8(kComputerRoot);
  Node* computer_root = add(invisible_root_.get(), std::move(computer));
  for (Elements::InvisibleElement* e : sources_.computer_elements) {
    if (e != nullptr) e->InsertIntoTree(*this, reinterpret_cast<ViewRow>(computer_root), -1);
  }
  endResetModel();
}

void ParameterTreeModel::set_title(const std::string& title) {
  if (root_ == nullptr) return;
  root_->text = QString::fromUtf8(kRootPrefix) + utf8_text(title) + ")";
  emit_row_changed(root_);
}

void ParameterTreeModel::emit_row_changed(const Node* n) {
  if (n == nullptr || n->parent == nullptr) return;
  emit dataChanged(index_of(n, 0), index_of(n, kColumnCount - 1));
}

void ParameterTreeModel::emit_changed_below(const Node* n) {
  if (n->children.empty()) return;
  const Node* first = n->children.front().get();
  const Node* last = n->children.back().get();
  emit dataChanged(index_of(first, 0), index_of(last, kColumnCount - 1));
  for (const auto& c : n->children) emit_changed_below(c.get());
}

void ParameterTreeModel::refresh_all() {
  emit_changed_below(invisible_root_.get());
}

void ParameterTreeModel::refresh_parameter(const Parameter* parameter) {
  auto [begin, end] = by_parameter_.equal_range(parameter);
  for (auto it = begin; it != end; ++it) emit_row_changed(it->second);
}

void ParameterTreeModel::refresh_key(std::uint32_t key) {
  for (const auto& [p, n] : by_parameter_) {
    if (p->key() == key) emit_row_changed(n);
  }
}

ParameterTreeModel::Node* ParameterTreeModel::node(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  return static_cast<Node*>(index.internalPointer());
}

QModelIndex ParameterTreeModel::index_of(const Node* n, int column) const {
  if (n == nullptr || n->parent == nullptr) return {};
  return createIndex(n->row, column, const_cast<Node*>(n));
}

ParameterTreeModel::RowKind ParameterTreeModel::kind(const QModelIndex& index) const {
  const Node* n = node(index);
  return n ? n->kind : RowKind::Root;
}

Parameter* ParameterTreeModel::parameter(const QModelIndex& index) const {
  const Node* n = node(index);
  return n ? n->parameter : nullptr;
}

ObjectWithParameters* ParameterTreeModel::element(const QModelIndex& index) const {
  const Node* n = node(index);
  return n ? n->element : nullptr;
}

bool ParameterTreeModel::operational(const QModelIndex& index) const {
  const Node* n = node(index);
  return n && n->operational;
}

bool ParameterTreeModel::protocol_file_row(const QModelIndex& index) const {
  const Node* n = node(index);
  return n && n->protocol_file;
}

QModelIndex ParameterTreeModel::index_of(const Parameter* parameter) const {
  // The first row in display order: the tree's own rows come before the operational branch.
  const Node* best = nullptr;
  for (const Node* n : all_) {
    if (n->parameter == parameter) {
      best = n;
      break;
    }
  }
  return index_of(best, 0);
}

QModelIndex ParameterTreeModel::find_path(const QString& path) const {
  if (path.isEmpty()) return {};
  const QStringList parts = path.split('\n');
  const Node* at = invisible_root_.get();
  for (const QString& part : parts) {
    const Node* found = nullptr;
    for (const auto& c : at->children) {
      if (data(index_of(c.get(), 0), Qt::DisplayRole).toString() == part) {
        found = c.get();
        break;
      }
    }
    if (found == nullptr) return {};
    at = found;
  }
  return index_of(at, 0);
}

QString ParameterTreeModel::tooltip(const Parameter& parameter) const {
  QString text = utf8_text(tooltips_.text_for(parameter));
  const std::string range = parameter.range_description();
  if (!range.empty()) {
    if (!text.isEmpty()) text += "\n";
    text += utf8_text(range);
  }
  return text;
}

QModelIndex ParameterTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* p = parent.isValid() ? node(parent) : invisible_root_.get();
  if (p == nullptr || row < 0 || column < 0 || column >= kColumnCount ||
      row >= static_cast<int>(p->children.size())) {
    return {};
  }
  return createIndex(row, column, p->children[static_cast<std::size_t>(row)].get());
}

QModelIndex ParameterTreeModel::parent(const QModelIndex& child) const {
  const Node* n = node(child);
  if (n == nullptr || n->parent == invisible_root_.get() || n->parent == nullptr) return {};
  return index_of(n->parent, 0);
}

int ParameterTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  const Node* p = parent.isValid() ? node(parent) : invisible_root_.get();
  return p ? static_cast<int>(p->children.size()) : 0;
}

int ParameterTreeModel::columnCount(const QModelIndex&) const {
  return kColumnCount;
}

QVariant ParameterTreeModel::data(const QModelIndex& index, int role) const {
  const Node* n = node(index);
  if (n == nullptr) return {};
  const int column = index.column();

  if (role == kImageRole) {
    return (n->kind == RowKind::Element || n->kind == RowKind::Connector) ? n->image : -1;
  }
  if (role == kPathRole) {
    QStringList parts;
    for (const Node* at = n; at != nullptr && at->parent != nullptr; at = at->parent) {
      parts.prepend(data(index_of(at, 0), Qt::DisplayRole).toString());
    }
    return parts.join('\n');
  }

  if (n->kind == RowKind::Parameter) {
    const Parameter& p = *n->parameter;
    if (n->protocol_file) return protocol_file_data(p, column, role);
    if (role == Qt::ToolTipRole) return tooltip(p);
    if (role == Qt::CheckStateRole) {
      if (n->operational && column == kTitle) return p.timer_armed() ? Qt::Checked : Qt::Unchecked;
      return {};
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ForegroundRole &&
        role != Qt::DecorationRole && role != kProblemRole) {
      return {};
    }
    if (role == Qt::DecorationRole && column != kTitle) return {};
    // Workers and the scanner change values and notes while the window paints: the row is
    // copied under the table's value lock, then shown from the copy.
    const bool indexes = sources_.show_indexes && sources_.show_indexes();
    const ParameterRow row = p.locked_row(indexes);
    if (n->operational) {
      switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
          switch (column) {
            case kTitle:
              return utf8_text(p.shown_title());
            case kName:
              return QString::number(p.polling_period());
            case kValue:
              return utf8_text(row.value);
            case kNote:
              return utf8_text(row.note);
            default:
              return {};
          }
        case Qt::ForegroundRole:
          return QBrush(colour(row.note.empty() ? kRowBlack : kRowRed));
        case Qt::DecorationRole:
          return QVariant(tree_icons::operational());
        case kProblemRole:
          return row.note.empty() ? 0 : 1;
        default:
          return {};
      }
    }
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole: {
        switch (column) {
          case kTitle:
            return utf8_text(p.shown_title());
          case kName:
            return utf8_text(row.name);
          case kValue:
            return utf8_text(row.value);
          case kAttribute:
            return utf8_text(row.attribute);
          case kOwner:
            return utf8_text(row.owner);
          case kNote:
            return utf8_text(row.note);
        }
        return {};
      }
      case Qt::ForegroundRole:
        return QBrush(colour(row.colour));
      case Qt::DecorationRole:
        return QVariant(tree_icons::for_parameter(row.icon));
      case kProblemRole:
        return (row.colour == kRowRed || row.colour == kRowBlue) ? 1 : 0;
      default:
        return {};
    }
  }

  switch (role) {
    case Qt::DisplayRole:
      if (n->kind == RowKind::Header) return tr(kHeaderTexts[column]);
      if (column == kTitle) return n->text;
      if (column == kValue && n->kind == RowKind::Placeholder) return n->value;
      return {};
    case Qt::DecorationRole:
      if (column != kTitle || n->kind == RowKind::Header) return {};
      if (n->kind == RowKind::Root) {
        return n == root_ ? tree_icons::configuration() : tree_icons::computer();
      }
      return tree_icons::for_number(n->image);
    case Qt::ForegroundRole:
      return QBrush(colour(kRowBlack));
    case kProblemRole:
      return 0;
    default:
      return {};
  }
}

QVariant ParameterTreeModel::protocol_file_data(const Parameter& p, int column, int role) const {
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (column == kTitle) return utf8_text(p.shown_title());
      if (column == kName) return utf8_text(p.short_name);
      if (column == kValue) return utf8_text(p.value);
      return {};
    case Qt::CheckStateRole:
      if (column != kTitle) return {};
      return sources_.recording_on && sources_.recording_on() ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
      return QString::fromUtf8(kProtocolFileComment.data(),
                               static_cast<qsizetype>(kProtocolFileComment.size()));
    case Qt::ForegroundRole:
      return QBrush(colour(kRowBlack));
    case Qt::DecorationRole:
      return column == kTitle ? QVariant(tree_icons::operational()) : QVariant();
    case kProblemRole:
      return 0;
    default:
      return {};
  }
}

bool ParameterTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  Node* n = node(index);
  if (n == nullptr || n->parameter == nullptr) return false;
  if (n->protocol_file) {
    if (role == Qt::CheckStateRole && index.column() == kTitle) {
      if (sources_.recording_switched) sources_.recording_switched(value.toInt() == Qt::Checked);
    } else if (role == Qt::EditRole && index.column() == kValue) {
      const bool taken = sources_.protocol_file_edit && sources_.protocol_file_edit(value.toString());
      emit_row_changed(n);
      return taken;
    } else {
      return false;
    }
    emit_row_changed(n);
    return true;
  }
  if (role == Qt::CheckStateRole && n->operational && index.column() == kTitle) {
    const bool on = value.toInt() == Qt::Checked;
    if (sources_.polling_switched) sources_.polling_switched(*n->parameter, on);
    refresh_parameter(n->parameter);
    return true;
  }
  if (role != Qt::EditRole || index.column() < kName || index.column() > kOwner) return false;
  if (!sources_.edit) return false;
  const bool taken = sources_.edit(*n->parameter, index.column(), value.toString(), n->operational);
  refresh_parameter(n->parameter);
  return taken;
}

Qt::ItemFlags ParameterTreeModel::flags(const QModelIndex& index) const {
  const Node* n = node(index);
  if (n == nullptr) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (n->kind != RowKind::Parameter) return f;
  const int column = index.column();
  if (n->protocol_file) {
    if (column == kTitle && sources_.recording_switched) f |= Qt::ItemIsUserCheckable;
    if (column == kValue && sources_.protocol_file_edit) f |= Qt::ItemIsEditable;
    return f;
  }
  if (n->operational) {
    if (column == kTitle) f |= Qt::ItemIsUserCheckable;
    if (column == kName || column == kValue) f |= Qt::ItemIsEditable;
    return f;
  }
  if (column >= kName && column <= kOwner) f |= Qt::ItemIsEditable;
  return f;
}

QVariant ParameterTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const captions[kColumnCount] = {
      QT_TR_NOOP("Описание"), QT_TR_NOOP("Параметр"),
      QT_TR_NOOP("Значение"), QT_TR_NOOP("Атрибут редактирования"),
      QT_TR_NOOP("Владелец"), QT_TR_NOOP("Ошибки обмена и несоответствия")};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumnCount) {
    return {};
  }
  return tr(captions[section]);
}

}  // namespace kba604
