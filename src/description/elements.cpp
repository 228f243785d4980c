#include "description/elements.h"

#include <sys/utsname.h>

#include "platform/text.h"

namespace kba604::Elements {
namespace {

// Element names shown with a text of their own, and for the БУИМ ranges images of their own.
struct FixedNode {
  std::string_view name;
  std::string_view text;
  int image;  // -1: the element's own images
};
constexpr FixedNode kFixedNodes[] = {
    {"Диапазон №1", "БУИМ типа \"Нагреватель\"", 43},
    {"Диапазон №2", "БУИМ типа \"Холодильник\"", 44},
    {"Блокировки №1", "Блокировка по пропаданию питания", -1},
    {"Блокировки №2", "Блокировка по преходу на новый шаг программы", -1},
    {"Блокировки №3", "Блокировка при запуске программы", -1},
};

constexpr std::string_view kRenameName = "Название";

}  // namespace

std::string InvisibleElement::effective_name() const {
  return name_.empty() ? type_name() : name_;
}

std::string InvisibleElement::type_name() const {
  return "Невизуальный элемент";
}

std::string InvisibleElement::group_name() const {
  return "Не относящиеся ко схеме";
}

std::string InvisibleElement::display_text() const {
  return effective_name() + " (" + type_name() + ")";
}

void InvisibleElement::Serialize(Archive& ar) {
  if (ar.is_storing()) {
    ar.writer().write_string(name_);
    ar.writer().write_u32(static_cast<std::uint32_t>(parameters_.size()));
  } else {
    ar.reader().read_string();
    ar.reader().read_u32();
    ResetValues();
  }
  ObjectWithParameters::Serialize(ar);
}

int InvisibleElement::SetValueByName(std::string_view name, std::string_view value,
                                     bool mark_change) {
  if (name == kRenameName) {
    name_ = std::string(value);
    return 1;
  }
  return ObjectWithParameters::SetValueByName(name, value, mark_change);
}

ViewRow InvisibleElement::insert_node(TreeSink& sink, ViewRow parent) {
  std::string text = effective_name();
  int image = tree_image();
  int selected = selected_tree_image();
  for (const auto& fixed : kFixedNodes) {
    if (!platform::iequals(name_, fixed.name)) continue;
    text = std::string(fixed.text);
    if (fixed.image >= 0) image = selected = fixed.image;
    break;
  }
  node_row_ = sink.insert_node(parent, text, image, selected, this);
  return node_row_;
}

int InvisibleElement::InsertIntoTree(TreeSink& sink, ViewRow parent, int count) {
  ViewRow node = insert_node(sink, parent);
  return ObjectWithParameters::InsertIntoTree(sink, node, count);
}

// ---- service parameters ----------------------------------------------------------------------

CommonParams::CommonParams(platform::SettingsStore* registration)
    : InvisibleElement("Сервисные параметры программы"), registration_(registration) {
  build();
}

std::string CommonParams::type_name() const {
  return "Сервисные параметры программы";
}

void CommonParams::DeleteParameters() {
  ObjectWithParameters::DeleteParameters();
  build();
}

std::string CommonParams::operating_system_text() {
  struct utsname u {};
  if (::uname(&u) != 0 || u.sysname[0] == '\0') return "<неизвестно>";
  return platform::format("%s %s %s", u.sysname, u.release, u.machine);
}

void CommonParams::build() {
  struct Service {
    const char* name;
    const char* title;
    std::string value;
  };
  const Service services[] = {
      {" ", "Версия", KBA604_VERSION},
      {"  ", "Копирайт", KBA604_COPYRIGHT},
      {"   ", "Операционная система", operating_system_text()},
  };
  for (const auto& s : services) {
    auto p = std::make_unique<Parameter>();
    p->short_name = s.name;
    p->title = s.title;
    p->value = s.value;
    p->format = "ASCI";
    // No attributes of their own, and never written: the instrument has no such parameters.
    p->attribute_multiplicity = 0;
    p->access_mask = 6;
    add_owned(std::move(p));
  }
  if (registration_ != nullptr) {
    // The store is the configurator's own section already: its values sit there directly.
    // Earlier versions wrote them one level deeper ("KBA604\name" inside [KBA604]); those
    // copies go, so that the section holds each value once.
    for (const char* stale : {"KBA604/name", "KBA604/version"}) {
      if (registration_->contains(stale)) registration_->remove(stale);
    }
    if (!registration_->contains("name")) registration_->set_value("name", "KBA604");
    if (!registration_->contains("version")) registration_->set_value("version", KBA604_VERSION);
  }
}

// ---- visible element -------------------------------------------------------------------------

VisibleElement::~VisibleElement() {
  if (picture_ != nullptr) picture_->unlink();
}

std::string VisibleElement::type_name() const {
  return "Визуальный элемент";
}

std::string VisibleElement::group_name() const {
  return "Относящиеся ко схеме";
}

bool VisibleElement::refuse_connection(const InvisibleElement& other, Prompter& prompter) const {
  std::string own = picture_ != nullptr ? picture_->picture_name() : effective_name();
  std::string text = "Блок '" + own + "' нельзя соединить/отсоединить \nс/от блока '" +
                     other.effective_name() + "'\n";
  prompter.show(text, "Ошибка", PromptIcon::Error);
  return false;
}

bool VisibleElement::confirm_connection(const InvisibleElement& other, Prompter& prompter) const {
  std::string text = "Элемент '" + effective_name() + "' соединить/отсоединить \nс/от элемента '" +
                     other.effective_name() + "'?";
  return prompter.confirm(text, "Сообщение", PromptIcon::Question);
}

}  // namespace kba604::Elements
