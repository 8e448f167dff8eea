#include "mirror.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableWidget>

#include <algorithm>
#include <cmath>
#include <set>

namespace qthost {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

int Px(double v) { return static_cast<int>(std::lround(v)); }

QColor ToQColor(const ui::Color& c) {
  auto ch = [](double v) { return std::clamp(static_cast<int>(std::lround(v * 255)), 0, 255); };
  return QColor(ch(c.r), ch(c.g), ch(c.b), ch(c.a));
}

// A table cell's value as text.
QString CellText(const cf::Ref& v) {
  if (!v) return QString();
  if (auto s = cf::As<cf::String>(v)) return Q(s->utf8());
  if (auto n = cf::As<cf::Number>(v)) return n->isReal() ? QString::number(n->doubleValue()) : QString::number(n->int64Value());
  if (auto b = cf::As<cf::Boolean>(v)) return b->value() ? QStringLiteral("1") : QStringLiteral("0");
  return Q(v->description());
}

}  // namespace

// A caption as a name: without mnemonic marks and the trailing colon. A
// translation that has no letter of the source marks it after the text,
// "部数(&C):": the parenthesised letter goes with it.
QString AccessibleName(QString text) {
  static const QRegularExpression kAppended(QStringLiteral("\\s*[(\uFF08]&[^&][)\uFF09]"));
  text.remove(kAppended);
  text.remove(QRegularExpression("&(?=[^&])"));
  text.replace("&&", "&");
  text = text.trimmed();
  while (text.endsWith(':') || text.endsWith(QChar(0xFF1A))) text.chop(1);
  return text.trimmed();
}

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  buddy->setAccessibleName(AccessibleName(text));
  // Qt names a label by its text without "&" only, which keeps a "(C)".
  label->setAccessibleName(buddy->accessibleName());
  return label;
}

namespace {

bool CellChecked(const cf::Ref& v) {
  if (auto n = cf::As<cf::Number>(v)) return n->int64Value() != 0;
  if (auto b = cf::As<cf::Boolean>(v)) return b->value();
  if (auto s = cf::As<cf::String>(v)) return s->utf8() == "1" || s->utf8() == "YES" || s->utf8() == "True";
  return false;
}

}  // namespace

struct ViewMirror::Node {
  ui::ViewRef view;
  QPointer<QWidget> widget;
  QPointer<QWidget> content;  // where subviews' widgets go
  Node* parent = nullptr;
  Place place = Place::Frame;
  int token = 0;
  std::vector<std::unique_ptr<Node>> children;  // subviews
  std::vector<std::unique_ptr<Node>> tabs;      // a tab view's item views
  std::vector<QPointer<QWidget>> tabPages;
  std::vector<QPointer<QRadioButton>> cells;    // a matrix's rows
  std::vector<QMetaObject::Connection> connections;
  bool isLabel = false;  // a text field shown as a QLabel
  QPointer<QWidget> buddy;  // the control a label names
  QChar mnemonic;           // its letter, or null
};

ViewMirror::ViewMirror(ui::ViewRef root, QWidget* parent) : root_(std::move(root)) {
  if (root_) rootNode_ = build(root_, parent, nullptr, Place::Frame);
}

ViewMirror::~ViewMirror() {
  if (!rootNode_) return;
  QPointer<QWidget> w = rootNode_->widget;
  dropNode(std::move(rootNode_));
  // Widgets go now, not later: the views they show may go with this mirror.
  delete w.data();
}

QWidget* ViewMirror::widget() const { return rootNode_ ? rootNode_->widget.data() : nullptr; }

QWidget* ViewMirror::widgetFor(const ui::View* view) const {
  auto it = nodes_.find(view);
  return it == nodes_.end() ? nullptr : it->second->widget.data();
}

QWidget* ViewMirror::widgetForIdentifier(const std::string& id) const {
  for (const auto& [view, node] : nodes_)
    if (view->identifier() == id) return node->widget.data();
  return nullptr;
}

// ---- building and dropping ------------------------------------------------

std::unique_ptr<ViewMirror::Node> ViewMirror::build(const ui::ViewRef& view, QWidget* parentWidget, Node* parent,
                                                    Place place) {
  auto node = std::make_unique<Node>();
  node->view = view;
  node->parent = parent;
  node->place = place;
  Node* n = node.get();
  nodes_[view.get()] = n;
  ++syncing_;
  n->widget = createWidget(n, parentWidget);
  if (!n->content) n->content = n->widget;
  n->widget->setObjectName(Q(view->identifier().empty() ? view->className() : view->identifier()));
  syncAll(n);
  position(n);
  --syncing_;
  wire(n);
  n->token = view->addObserver([this, n](ui::View*, ui::Change what) { onChange(n, what); });
  buildChildren(n);
  if (auto* tabs = dynamic_cast<ui::TabView*>(view.get())) {
    (void)tabs;
    syncTabs(n);
  }
  return node;
}

void ViewMirror::buildChildren(Node* node) {
  auto* tabView = dynamic_cast<ui::TabView*>(node->view.get());
  for (const auto& sub : node->view->subviews()) {
    if (!sub) continue;
    if (tabView) {
      // Item views live in the tab pages.
      bool isItem = false;
      for (int i = 0; i < tabView->numberOfTabViewItems(); ++i)
        if (tabView->tabViewItemAtIndex(i)->view() == sub) isItem = true;
      if (isItem) continue;
    }
    node->children.push_back(build(sub, node->content, node, Place::Frame));
  }
  nameControls(node);
}

// A caption names the control beside it on its right (or else the one just
// below it): that control becomes its buddy and takes its text as
// accessible name, and the caption gets the first of its Latin letters not
// yet a mnemonic in the same tab page (or the whole tree).
void ViewMirror::nameControls(Node* node) {
  auto isControl = [](const Node* c) {
    if (c->isLabel || !c->widget) return false;
    ui::View* v = c->view.get();
    if (auto* b = dynamic_cast<ui::Button*>(v)) return b->title().empty();
    return dynamic_cast<ui::PopUpButton*>(v) || dynamic_cast<ui::TextField*>(v) || dynamic_cast<ui::Matrix*>(v) ||
           dynamic_cast<ui::TableView*>(v);
  };
  std::set<const Node*> taken;
  for (auto& label : node->children) {
    if (!label->isLabel || !label->widget || label->view->isHidden()) continue;
    QRect l = label->widget->geometry();
    Node* best = nullptr;
    int bestDistance = 0;
    for (auto& c : node->children) {
      if (!isControl(c.get()) || taken.count(c.get())) continue;
      QRect r = c->widget->geometry();
      // Beside it (a little overlap allowed), else below it; far ones never.
      int distance;
      if (r.left() >= l.center().x() && r.top() <= l.center().y() && r.bottom() >= l.center().y())
        distance = r.left() - l.right();
      else if (r.top() >= l.center().y() && r.left() <= l.center().x() && r.right() >= l.left())
        distance = 1000 + r.top() - l.bottom();
      else
        continue;
      if (distance >= -20 && distance < 1040 && (!best || distance < bestDistance)) {
        best = c.get();
        bestDistance = distance;
      }
    }
    if (!best) continue;
    taken.insert(best);
    label->buddy = best->widget;
    static_cast<QLabel*>(label->widget.data())->setBuddy(best->widget);
    QString text = Q(static_cast<ui::TextField*>(label->view.get())->stringValue());
    // Only one tab page shows at a time: letters need to differ within it.
    auto scope = [](const Node* n) {
      while (n->parent && n->place != Place::Fill) n = n->parent;
      return n;
    };
    for (QChar ch : text) {
      if (!ch.isLetter() || ch.unicode() > 0x7f) continue;
      QChar lower = ch.toLower();
      bool used = false;
      for (const auto& [v, n] : nodes_)
        if (n != label.get() && n->mnemonic == lower && scope(n) == scope(label.get())) used = true;
      if (!used) {
        label->mnemonic = lower;
        break;
      }
    }
    syncText(label.get());
  }
  // A table without a caption is named by its columns.
  for (auto& c : node->children) {
    auto* table = dynamic_cast<ui::TableView*>(c->view.get());
    if (!table || !c->widget || !c->widget->accessibleName().isEmpty()) continue;
    QStringList titles;
    for (const auto& col : table->tableColumns())
      if (!col.title.empty()) titles << Q(col.title);
    c->widget->setAccessibleName(titles.join(", "));
  }
}

void ViewMirror::dropChildren(Node* node) {
  auto children = std::move(node->children);
  node->children.clear();
  for (auto& c : children) {
    QPointer<QWidget> w = c->widget;
    dropNode(std::move(c));
    if (w) {
      // The widget may be the sender of the signal being handled now.
      w->hide();
      w->deleteLater();
    }
  }
}

void ViewMirror::dropNode(std::unique_ptr<Node> node) {
  if (!node) return;
  for (auto& c : node->children) dropNode(std::move(c));
  for (auto& t : node->tabs) dropNode(std::move(t));
  for (auto& c : node->connections) QObject::disconnect(c);
  node->connections.clear();
  if (node->token) node->view->removeObserver(node->token);
  auto it = nodes_.find(node->view.get());
  if (it != nodes_.end() && it->second == node.get()) nodes_.erase(it);
  if (driving_ == node.get()) driving_ = nullptr;
}

QWidget* ViewMirror::createWidget(Node* n, QWidget* parentWidget) {
  ui::View* v = n->view.get();
  if (auto* pop = dynamic_cast<ui::PopUpButton*>(v)) {
    (void)pop;
    return new QComboBox(parentWidget);
  }
  if (auto* button = dynamic_cast<ui::Button*>(v)) {
    switch (button->buttonType()) {
      case ui::ButtonType::Switch:
        return new QCheckBox(parentWidget);
      case ui::ButtonType::Radio: {
        auto* r = new QRadioButton(parentWidget);
        r->setAutoExclusive(false);  // the model decides
        return r;
      }
      case ui::ButtonType::Push:
        return new QPushButton(parentWidget);
    }
  }
  if (auto* matrix = dynamic_cast<ui::Matrix*>(v)) {
    auto* box = new QWidget(parentWidget);
    auto* group = new QButtonGroup(box);
    group->setExclusive(true);
    for (int row = 0; row < matrix->numberOfRows(); ++row) {
      auto* r = new QRadioButton(box);
      group->addButton(r, row);
      n->cells.push_back(r);
    }
    return box;
  }
  if (auto* field = dynamic_cast<ui::TextField*>(v)) {
    if (!field->isEditable()) {
      n->isLabel = true;
      auto* label = new QLabel(parentWidget);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    auto* edit = new QLineEdit(parentWidget);
    if (field->isSecure()) edit->setEchoMode(QLineEdit::Password);
    edit->setPlaceholderText(Q(field->placeholder()));
    return edit;
  }
  if (dynamic_cast<ui::TabView*>(v)) return new QTabWidget(parentWidget);
  if (auto* table = dynamic_cast<ui::TableView*>(v)) {
    (void)table;
    auto* t = new QTableWidget(parentWidget);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    return t;
  }
  if (dynamic_cast<ui::Box*>(v)) return new QGroupBox(parentWidget);
  return new QWidget(parentWidget);
}

// ---- widget -> model ------------------------------------------------------

void ViewMirror::wire(Node* n) {
  ui::View* v = n->view.get();
  QWidget* w = n->widget;
  auto& conns = n->connections;
  if (auto* pop = dynamic_cast<ui::PopUpButton*>(v)) {
    auto* combo = static_cast<QComboBox*>(w);
    conns.push_back(QObject::connect(combo, &QComboBox::activated, this, [this, n, pop](int index) {
      if (syncing_) return;
      pop->userSelectItem(index);
      if (nodes_.count(pop)) syncSelection(n);
      emit userActed();
    }));
    return;
  }
  if (auto* button = dynamic_cast<ui::Button*>(v)) {
    auto* b = static_cast<QAbstractButton*>(w);
    conns.push_back(QObject::connect(b, &QAbstractButton::clicked, this, [this, n, button] {
      if (syncing_) return;
      button->userClick();
      // The action may have rebuilt this part of the tree.
      if (nodes_.count(button) && nodes_[button] == n) syncState(n);
      emit userActed();
    }));
    return;
  }
  if (auto* matrix = dynamic_cast<ui::Matrix*>(v)) {
    auto* group = w->findChild<QButtonGroup*>();
    conns.push_back(QObject::connect(group, &QButtonGroup::idClicked, this, [this, n, matrix](int row) {
      if (syncing_) return;
      matrix->userSelectCell(row);
      if (nodes_.count(matrix) && nodes_[matrix] == n) syncSelection(n);
      emit userActed();
    }));
    return;
  }
  if (dynamic_cast<ui::TextField*>(v) && !n->isLabel) {
    auto* edit = static_cast<QLineEdit*>(w);
    conns.push_back(QObject::connect(edit, &QLineEdit::textEdited, this,
                                     [this, n](const QString& text) { textEdited(n, text); }));
    conns.push_back(QObject::connect(edit, &QLineEdit::editingFinished, this, [this, n] { editingFinished(n); }));
    // Caret moves of the user reach the field editor, where filters look.
    auto caret = [this, n, edit] {
      auto* field = static_cast<ui::TextField*>(n->view.get());
      if (syncing_ || driving_ || !field->currentEditor() || edit->text() != Q(field->stringValue())) return;
      long start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
      long length = edit->hasSelectedText() ? edit->selectionLength() : 0;
      ui::Range r = field->currentEditor()->selectedRange();
      if (r.location != start || r.length != length) field->userSelect(ui::Range{start, length});
    };
    conns.push_back(QObject::connect(edit, &QLineEdit::cursorPositionChanged, this, caret));
    conns.push_back(QObject::connect(edit, &QLineEdit::selectionChanged, this, caret));
    return;
  }
  if (auto* tabView = dynamic_cast<ui::TabView*>(v)) {
    auto* tabs = static_cast<QTabWidget*>(w);
    conns.push_back(QObject::connect(tabs, &QTabWidget::currentChanged, this, [this, n, tabView](int index) {
      if (syncing_) return;
      tabView->userSelectTab(index);
      if (nodes_.count(tabView) && nodes_[tabView] == n) syncSelection(n);
      emit userActed();
    }));
    return;
  }
  if (auto* tableView = dynamic_cast<ui::TableView*>(v)) {
    auto* table = static_cast<QTableWidget*>(w);
    conns.push_back(QObject::connect(table, &QTableWidget::itemSelectionChanged, this, [this, n, tableView, table] {
      if (syncing_) return;
      auto rows = table->selectionModel()->selectedRows();
      tableView->userSelectRow(rows.isEmpty() ? -1 : rows.first().row());
      if (nodes_.count(tableView) && nodes_[tableView] == n) syncSelection(n);
      emit userActed();
    }));
    conns.push_back(QObject::connect(table, &QTableWidget::itemChanged, this, [this, n, tableView](QTableWidgetItem* item) {
      if (syncing_ || !item) return;
      int col = item->column();
      if (col < 0 || col >= static_cast<int>(tableView->tableColumns().size())) return;
      if (tableView->tableColumns()[col].kind != ui::TableColumn::Kind::CheckBox) return;
      tableView->userSetObjectValue(col, item->row(), cf::num(item->checkState() == Qt::Checked ? 1 : 0));
      // The data source may have refused; show what it holds.
      if (nodes_.count(tableView) && nodes_[tableView] == n) syncTable(n);
      emit userActed();
    }));
    return;
  }
}

// Replays one edit of the line edit on the model as typing: the changed
// stretch (ending at the caret) is selected in the field editor and
// replaced, so the field's filters see what a user did; then the line edit
// shows the model's text and caret.
void ViewMirror::textEdited(Node* n, const QString& text) {
  if (syncing_) return;
  auto* field = static_cast<ui::TextField*>(n->view.get());
  auto* edit = static_cast<QLineEdit*>(n->widget.data());
  std::u16string before = Q(field->stringValue()).toStdU16String();
  std::u16string after = text.toStdU16String();
  size_t caret = static_cast<size_t>(std::clamp(edit->cursorPosition(), 0, static_cast<int>(after.size())));

  size_t suffix = 0;
  while (suffix < before.size() && suffix < after.size() &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
    ++suffix;
  suffix = std::min(suffix, after.size() - caret);
  size_t prefix = 0;
  size_t limit = std::min(before.size(), after.size()) - suffix;
  while (prefix < limit && before[prefix] == after[prefix]) ++prefix;

  long removedLength = static_cast<long>(before.size() - suffix - prefix);
  std::u16string inserted = after.substr(prefix, after.size() - suffix - prefix);

  driving_ = n;
  bool ok = field->currentEditor() || field->userBeginEditing();
  if (ok && (removedLength > 0 || !inserted.empty())) {
    field->userSelect(ui::Range{static_cast<long>(prefix), removedLength});
    if (!inserted.empty())
      field->userType(QString::fromStdU16String(inserted).toStdString());
    else
      field->userDeleteBackward();  // removes the selection
  }
  if (driving_ != n) return;  // the field went away while typing
  driving_ = nullptr;
  syncText(n);
  emit userActed();
}

void ViewMirror::editingFinished(Node* n) {
  if (syncing_) return;
  auto* field = static_cast<ui::TextField*>(n->view.get());
  if (!field->currentEditor()) return;
  if (field->userEndEditing() && field->target() && !field->action().empty()) field->sendAction();
  if (nodes_.count(field) && nodes_[field] == n) syncText(n);
  emit userActed();
}

bool ViewMirror::commitEditing() {
  bool all = true;
  std::vector<ui::View*> editing;
  for (const auto& [view, node] : nodes_) {
    auto* field = dynamic_cast<ui::TextField*>(const_cast<ui::View*>(view));
    if (field && !node->isLabel && field->currentEditor()) editing.push_back(field);
  }
  for (ui::View* v : editing) {
    auto it = nodes_.find(v);
    if (it == nodes_.end()) continue;
    auto* field = static_cast<ui::TextField*>(v);
    if (!field->userEndEditing()) {
      all = false;
      continue;
    }
    if (field->target() && !field->action().empty()) field->sendAction();
    it = nodes_.find(v);
    if (it != nodes_.end()) syncText(it->second);
  }
  return all;
}

// ---- model -> widget ------------------------------------------------------

void ViewMirror::onChange(Node* n, ui::Change what) {
  if (!n->widget) return;
  switch (what) {
    case ui::Change::Frame:
      position(n);
      placeChildren(n);
      break;
    case ui::Change::Hidden:
      if (n->parent || n->view->isHidden()) n->widget->setVisible(!n->view->isHidden());
      else if (n->widget->parentWidget()) n->widget->setVisible(true);
      break;
    case ui::Change::Enabled:
      syncEnabled(n);
      break;
    case ui::Change::Subviews:
      dropChildren(n);
      buildChildren(n);
      emit treeRebuilt();
      break;
    case ui::Change::Title:
      syncTitle(n);
      break;
    case ui::Change::StringValue:
    case ui::Change::Editing:
      if (driving_ != n) syncText(n);
      break;
    case ui::Change::Items:
      syncItems(n);
      break;
    case ui::Change::Selection:
      if (dynamic_cast<ui::TextField*>(n->view.get())) {
        if (driving_ != n) syncText(n);
      } else {
        syncSelection(n);
      }
      break;
    case ui::Change::State:
      syncState(n);
      break;
    case ui::Change::TextColor:
      syncColor(n);
      break;
    case ui::Change::Tabs:
      syncTabs(n);
      break;
    case ui::Change::TableData:
      syncTable(n);
      break;
    case ui::Change::Image:
      break;
  }
}

void ViewMirror::position(Node* n) {
  QWidget* w = n->widget;
  ui::Rect f = n->view->frame();
  int width = Px(f.size.width), height = Px(f.size.height);
  if (n->place == Place::Fill || !n->parent) {
    QWidget* p = w->parentWidget();
    if ((width <= 0 || height <= 0) && p && n->place == Place::Fill) {
      width = p->width();
      height = p->height();
    }
    w->setGeometry(n->place == Place::Fill ? 0 : w->x(), n->place == Place::Fill ? 0 : w->y(), std::max(width, 0),
                   std::max(height, 0));
    return;
  }
  double y = f.origin.y;
  if (!n->parent->view->isFlipped()) y = n->parent->view->frame().size.height - f.origin.y - f.size.height;
  w->setGeometry(Px(f.origin.x), Px(y), std::max(width, 0), std::max(height, 0));
  if (!n->cells.empty()) {
    int rows = static_cast<int>(n->cells.size());
    for (int i = 0; i < rows; ++i)
      if (n->cells[i]) n->cells[i]->setGeometry(0, i * height / rows, width, height / rows);
  }
}

void ViewMirror::placeChildren(Node* n) {
  for (auto& c : n->children) position(c.get());
  for (auto& t : n->tabs) position(t.get());
}

void ViewMirror::syncAll(Node* n) {
  ++syncing_;
  if (n->parent) n->widget->setVisible(!n->view->isHidden());
  else if (n->view->isHidden()) n->widget->hide();
  syncEnabled(n);
  syncTitle(n);
  syncItems(n);
  syncState(n);
  syncText(n);
  syncSelection(n);
  syncColor(n);
  syncTable(n);
  n->widget->setToolTip(Q(n->view->toolTip()));
  --syncing_;
}

void ViewMirror::syncEnabled(Node* n) {
  if (auto* c = dynamic_cast<ui::Control*>(n->view.get())) n->widget->setEnabled(c->isEnabled());
  if (auto* m = dynamic_cast<ui::Matrix*>(n->view.get()))
    for (int i = 0; i < static_cast<int>(n->cells.size()); ++i)
      if (n->cells[i]) n->cells[i]->setEnabled(m->isCellEnabled(i));
}

void ViewMirror::syncTitle(Node* n) {
  ui::View* v = n->view.get();
  if (auto* b = dynamic_cast<ui::Button*>(v)) static_cast<QAbstractButton*>(n->widget.data())->setText(Q(b->title()));
  else if (auto* box = dynamic_cast<ui::Box*>(v)) static_cast<QGroupBox*>(n->widget.data())->setTitle(Q(box->title()));
}

void ViewMirror::syncItems(Node* n) {
  ui::View* v = n->view.get();
  if (auto* pop = dynamic_cast<ui::PopUpButton*>(v)) {
    auto* combo = static_cast<QComboBox*>(n->widget.data());
    ++syncing_;
    QSignalBlocker block(combo);
    combo->clear();
    for (int i = 0; i < pop->numberOfItems(); ++i) combo->addItem(Q(pop->itemTitleAtIndex(i)));
    if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
      for (int i = 0; i < pop->numberOfItems(); ++i)
        if (QStandardItem* item = model->item(i)) item->setEnabled(pop->isItemEnabled(i));
    combo->setCurrentIndex(pop->indexOfSelectedItem());
    --syncing_;
  } else if (auto* m = dynamic_cast<ui::Matrix*>(v)) {
    for (int i = 0; i < static_cast<int>(n->cells.size()); ++i)
      if (n->cells[i]) n->cells[i]->setText(Q(m->cellTitle(i)));
    syncEnabled(n);
  }
}

void ViewMirror::syncState(Node* n) {
  if (auto* b = dynamic_cast<ui::Button*>(n->view.get())) {
    if (b->buttonType() == ui::ButtonType::Push) return;
    ++syncing_;
    static_cast<QAbstractButton*>(n->widget.data())->setChecked(b->state() != 0);
    --syncing_;
  }
}

void ViewMirror::syncText(Node* n) {
  auto* field = dynamic_cast<ui::TextField*>(n->view.get());
  if (!field) return;
  QString text = Q(field->stringValue());
  if (n->isLabel) {
    auto* label = static_cast<QLabel*>(n->widget.data());
    if (!n->buddy) {
      label->setText(text);
      return;
    }
    // With a buddy, '&' marks the mnemonic letter (also in plain text).
    QString marked = text;
    marked.replace('&', "&&");
    int at = n->mnemonic.isNull() ? -1 : marked.indexOf(n->mnemonic, 0, Qt::CaseInsensitive);
    if (at >= 0) marked.insert(at, '&');
    label->setText(marked);
    n->buddy->setAccessibleName(AccessibleName(text));
    return;
  }
  auto* edit = static_cast<QLineEdit*>(n->widget.data());
  ++syncing_;
  if (edit->text() != text) edit->setText(text);
  if (ui::FieldEditor* editor = field->currentEditor()) {
    ui::Range r = editor->selectedRange();
    int loc = static_cast<int>(std::clamp<long>(r.location, 0, text.size()));
    int len = static_cast<int>(std::clamp<long>(r.length, 0, text.size() - loc));
    if (len > 0) edit->setSelection(loc, len);
    else edit->setCursorPosition(loc);
  }
  --syncing_;
}

void ViewMirror::syncSelection(Node* n) {
  ui::View* v = n->view.get();
  ++syncing_;
  if (auto* pop = dynamic_cast<ui::PopUpButton*>(v)) {
    static_cast<QComboBox*>(n->widget.data())->setCurrentIndex(pop->indexOfSelectedItem());
  } else if (auto* m = dynamic_cast<ui::Matrix*>(v)) {
    for (int i = 0; i < static_cast<int>(n->cells.size()); ++i)
      if (n->cells[i]) n->cells[i]->setChecked(i == m->selectedRow());
  } else if (auto* tabView = dynamic_cast<ui::TabView*>(v)) {
    auto* tabs = static_cast<QTabWidget*>(n->widget.data());
    int i = tabView->indexOfSelectedTabViewItem();
    if (i >= 0 && i < tabs->count()) tabs->setCurrentIndex(i);
  } else if (auto* tableView = dynamic_cast<ui::TableView*>(v)) {
    auto* table = static_cast<QTableWidget*>(n->widget.data());
    int row = tableView->selectedRow();
    if (row >= 0 && row < table->rowCount()) table->selectRow(row);
    else table->clearSelection();
  }
  --syncing_;
}

void ViewMirror::syncColor(Node* n) {
  auto* c = dynamic_cast<ui::Control*>(n->view.get());
  if (!c || !dynamic_cast<ui::TextField*>(c)) return;
  QPalette pal = n->widget->palette();
  QColor color = ToQColor(c->textColor());
  QPalette::ColorRole role = n->isLabel ? QPalette::WindowText : QPalette::Text;
  pal.setColor(QPalette::Active, role, color);
  pal.setColor(QPalette::Inactive, role, color);
  n->widget->setPalette(pal);
}

void ViewMirror::syncTable(Node* n) {
  auto* tableView = dynamic_cast<ui::TableView*>(n->view.get());
  if (!tableView) return;
  auto* table = static_cast<QTableWidget*>(n->widget.data());
  ++syncing_;
  QSignalBlocker block(table);
  const auto& columns = tableView->tableColumns();
  int rows = std::max(tableView->numberOfRows(), 0);
  table->clear();
  table->setColumnCount(static_cast<int>(columns.size()));
  table->setRowCount(rows);
  QStringList headers;
  for (const auto& col : columns) headers << Q(col.title);
  table->setHorizontalHeaderLabels(headers);
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    const ui::TableColumn& col = columns[c];
    for (int r = 0; r < rows; ++r) {
      cf::Ref value = tableView->objectValue(c, r);
      auto* item = new QTableWidgetItem;
      Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      switch (col.kind) {
        case ui::TableColumn::Kind::CheckBox:
          if (col.editable) flags |= Qt::ItemIsUserCheckable;
          item->setCheckState(CellChecked(value) ? Qt::Checked : Qt::Unchecked);
          break;
        case ui::TableColumn::Kind::Image:
          if (col.dataCell && col.dataCell->image()) item->setIcon(QIcon(Q(col.dataCell->image()->path())));
          break;
        case ui::TableColumn::Kind::Text:
          item->setText(CellText(value));
          break;
      }
      item->setFlags(flags);
      table->setItem(r, c, item);
    }
  }
  int row = tableView->selectedRow();
  if (row >= 0 && row < rows) table->selectRow(row);
  --syncing_;
}

void ViewMirror::syncTabs(Node* n) {
  auto* tabView = dynamic_cast<ui::TabView*>(n->view.get());
  if (!tabView) return;
  auto* tabs = static_cast<QTabWidget*>(n->widget.data());
  ++syncing_;
  for (auto& t : n->tabs) dropNode(std::move(t));
  n->tabs.clear();
  while (tabs->count() > 0) {
    QWidget* page = tabs->widget(0);
    tabs->removeTab(0);
    page->hide();
    page->deleteLater();
  }
  n->tabPages.clear();
  for (int i = 0; i < tabView->numberOfTabViewItems(); ++i) {
    ui::TabViewItem* item = tabView->tabViewItemAtIndex(i);
    auto* page = new QWidget;
    tabs->addTab(page, Q(item->label()));
    n->tabPages.push_back(page);
    if (item->view()) n->tabs.push_back(build(item->view(), page, n, Place::Fill));
  }
  --syncing_;
  syncSelection(n);
}

}  // namespace qthost
