// The elements of the parameter tree besides the branches: the element with a name
// (Elements::InvisibleElement), the program's service parameters (Elements::CommonParams) and
// the element meant for a block diagram (Elements::VisibleElement). The network settings
// elements of the link derive from InvisibleElement.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/prompter.h"
#include "model/object_with_parameters.h"
#include "platform/settings_store.h"

namespace kba604 {

// A rectangle of the block diagram: left, top, right, bottom.
struct DiagramRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const DiagramRect&) const = default;
};

namespace Elements {

class InvisibleElement : public ObjectWithParameters {
 public:
  InvisibleElement() = default;
  explicit InvisibleElement(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  // The own name when it is not empty, otherwise the type name.
  std::string effective_name() const;

  // The name text, the parameter count and each parameter's record. Loading reads the name
  // and the count without using them and resets the values first.
  void Serialize(Archive& ar) override;
  // "Название" renames the element; other names set a parameter's value.
  int SetValueByName(std::string_view name, std::string_view value, bool mark_change) override;
  // Inserts the element's node under parent, then the first count parameters under the node
  // (all when count is negative); returns the number of parameter rows.
  int InsertIntoTree(TreeSink& sink, ViewRow parent, int count) override;
  // Only the node, with the fixed texts and images of some names; returns its row.
  ViewRow insert_node(TreeSink& sink, ViewRow parent);
  // The row of the element's node in the view; 0 until inserted.
  ViewRow node_row() const { return node_row_; }

  virtual DiagramRect diagram_rect() const { return {}; }
  virtual int tree_image() const { return 0; }
  virtual int selected_tree_image() const { return 0; }
  virtual std::string type_name() const;
  virtual int diagram_number() const { return -999; }
  virtual std::string group_name() const;
  // The effective name, " (", the type name and ")".
  virtual std::string display_text() const;
  // The network settings elements describe their values here; others have nothing to say.
  virtual std::string network_summary() const { return display_text(); }

 protected:
  std::string name_;
  ViewRow node_row_ = 0;
};

// The program's own service parameters: its version, its legal notice and the operating
// system, none of them ever written to the instrument.
class CommonParams : public InvisibleElement {
 public:
  // registration, when given, receives the configurator's "name" and "version" if it has
  // none yet.
  explicit CommonParams(platform::SettingsStore* registration = nullptr);

  // Deletes the parameters and builds the three service parameters anew.
  void DeleteParameters() override;
  int tree_image() const override { return 20; }
  int selected_tree_image() const override { return 20; }
  std::string type_name() const override;

  // The operating-system text: "<system> <release> <machine>", or "<неизвестно>".
  static std::string operating_system_text();

 private:
  void build();
  platform::SettingsStore* registration_;
};

// What an element of the block diagram is drawn as; the diagram itself is the front end's.
class DiagramPicture {
 public:
  virtual ~DiagramPicture() = default;
  virtual std::string picture_name() const = 0;
  // The element is going away: the picture forgets it.
  virtual void unlink() = 0;
};

class VisibleElement : public InvisibleElement {
 public:
  explicit VisibleElement(std::string name = {}, DiagramPicture* picture = nullptr)
      : InvisibleElement(std::move(name)), picture_(picture) {}
  ~VisibleElement() override;

  DiagramPicture* picture() const { return picture_; }
  std::string type_name() const override;
  std::string group_name() const override;

  // Tells the engineer that this block cannot be connected to or disconnected from other;
  // answers no.
  bool refuse_connection(const InvisibleElement& other, Prompter& prompter) const;
  // Asks whether this element is to be connected to or disconnected from other; yes on Yes.
  bool confirm_connection(const InvisibleElement& other, Prompter& prompter) const;

 private:
  DiagramPicture* picture_;
};

}  // namespace Elements
}  // namespace kba604
