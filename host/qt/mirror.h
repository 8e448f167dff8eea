// Mirrors a headless view tree (ui::View and its subclasses) into Qt
// widgets, both ways: model changes reach the widgets through the views'
// observers; what the user does to a widget is replayed on the model as a
// user would do it (userSelectItem, userClick, userType...), and the widget
// then shows what the model made of it.
//
// Geometry: every widget is placed absolutely at its view's frame. A frame
// is in its superview's coordinates with y growing upwards, as on the
// platform, unless the superview isFlipped (y grows downwards). Qt's y axis
// grows downwards, so a child of an unflipped view is placed at
// superview height - y - height. A tab item's view fills its tab page.
#pragma once

#include <QLabel>
#include <QObject>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "ui/ui.h"

namespace qthost {

// A label's text as the accessible name of its buddy: without mnemonic
// marks ("&C", and "(&C)" as translations append them) and without the
// trailing colon.
QString AccessibleName(QString text);

// A label for `buddy` (its mnemonic marked with '&'), whose text also
// becomes the buddy's accessible name.
QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent);

class ViewMirror : public QObject {
  Q_OBJECT

 public:
  // Builds the widgets for `root` under `parent` (which may be null).
  explicit ViewMirror(ui::ViewRef root, QWidget* parent = nullptr);
  ~ViewMirror() override;
  ViewMirror(const ViewMirror&) = delete;
  ViewMirror& operator=(const ViewMirror&) = delete;

  QWidget* widget() const;
  const ui::ViewRef& rootView() const { return root_; }
  // The widget that currently shows `view`, or null when it is not shown.
  QWidget* widgetFor(const ui::View* view) const;
  // The widget of the first view with this identifier, or null.
  QWidget* widgetForIdentifier(const std::string& id) const;

  // Ends editing of any field being edited, as leaving the field would;
  // false when a field refused to end editing (it stays being edited).
  bool commitEditing();

 signals:
  // After each user action replayed on the model (a modal window checks
  // whether its session was stopped).
  void userActed();
  // A container's subviews were replaced and its widgets rebuilt.
  void treeRebuilt();

 private:
  struct Node;
  enum class Place { Frame, Fill };

  std::unique_ptr<Node> build(const ui::ViewRef& view, QWidget* parentWidget, Node* parent, Place place);
  void buildChildren(Node* node);
  void nameControls(Node* node);
  void dropChildren(Node* node);
  void dropNode(std::unique_ptr<Node> node);
  QWidget* createWidget(Node* node, QWidget* parentWidget);
  void wire(Node* node);
  void onChange(Node* node, ui::Change what);
  void position(Node* node);
  void placeChildren(Node* node);

  // Model -> widget.
  void syncAll(Node* node);
  void syncText(Node* node);
  void syncSelection(Node* node);
  void syncItems(Node* node);
  void syncTitle(Node* node);
  void syncState(Node* node);
  void syncEnabled(Node* node);
  void syncColor(Node* node);
  void syncTable(Node* node);
  void syncTabs(Node* node);

  // Widget -> model.
  void textEdited(Node* node, const QString& text);
  void editingFinished(Node* node);

  ui::ViewRef root_;
  std::unique_ptr<Node> rootNode_;
  std::map<const ui::View*, Node*> nodes_;
  // Set while this mirror pushes model state into widgets, so that the
  // widgets' own change signals are not replayed on the model.
  int syncing_ = 0;
  // Set while a user's edit is replayed on a text field: its observers'
  // text updates wait until the filters are done.
  Node* driving_ = nullptr;
};

}  // namespace qthost
