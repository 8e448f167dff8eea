// The mirror of a widget model built here: both directions, the text
// filter cycle, and rebuilding a container whose subviews are replaced.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include "mirror.h"
#include "qt_env.h"

namespace {

using qthost::ViewMirror;

template <class T>
std::shared_ptr<T> Make(ui::Rect frame) {
  auto v = std::make_shared<T>();
  v->setFrame(frame);
  return v;
}

ui::Rect R(double x, double y, double w, double h) { return {{x, y}, {w, h}}; }

// Counts the actions it receives.
class Target : public ui::NibObject {
 public:
  Target() {
    action("changed:", [this](ui::NibObject*) { ++count; });
  }
  int count = 0;
};

// Takes at most five characters, upper-cased; over-long input is refused
// and the text and caret are put back as they were before the change.
class LimitedField : public ui::TextField {
 public:
  bool textShouldBeginEditing(ui::FieldEditor* editor) override {
    keep(editor);
    return true;
  }
  void textDidChange(ui::FieldEditor* editor) override {
    if (length() > 5) {
      setStringValue(text_);
      editor->setSelectedRange(caret_);
      return;
    }
    std::string upper = stringValue();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper != stringValue()) {
      ui::Range r = editor->selectedRange();
      setStringValue(upper);
      editor->setSelectedRange(r);
    }
    keep(editor);
  }

 private:
  void keep(ui::FieldEditor* editor) {
    text_ = stringValue();
    caret_ = editor->selectedRange();
  }
  std::string text_;
  ui::Range caret_;
};

class MirrorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qttest::App(); }
};

TEST_F(MirrorTest, PopUpItemsFollowTheModelAndUserChoicesGoThroughIt) {
  auto root = Make<ui::View>(R(0, 0, 300, 100));
  auto pop = Make<ui::PopUpButton>(R(10, 10, 200, 26));
  for (const char* t : {"Auto", "Vivid", "Custom"}) pop->addItemWithTitle(t);
  pop->selectItemAtIndex(0);
  pop->setAutoenablesItems(false);
  pop->setItemEnabled(1, false);
  auto target = std::make_shared<Target>();
  pop->setTarget(target);
  pop->setAction("changed:");
  root->addSubview(pop);

  ViewMirror mirror(root);
  auto* combo = qobject_cast<QComboBox*>(mirror.widgetFor(pop.get()));
  ASSERT_NE(combo, nullptr);
  auto* model = qobject_cast<QStandardItemModel*>(combo->model());
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(2), "Custom");
  EXPECT_TRUE(model->item(0)->isEnabled());
  EXPECT_FALSE(model->item(1)->isEnabled());

  // Model -> widget: item enabling, selection, new items.
  pop->setItemEnabled(1, true);
  EXPECT_TRUE(model->item(1)->isEnabled());
  pop->setItemEnabled(2, false);
  EXPECT_FALSE(model->item(2)->isEnabled());
  pop->selectItemAtIndex(1);
  EXPECT_EQ(combo->currentIndex(), 1);
  pop->addItemWithTitle("Gray");
  ASSERT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->currentIndex(), 1);
  pop->setAutoenablesItems(true);
  EXPECT_TRUE(model->item(2)->isEnabled());
  pop->setAutoenablesItems(false);

  // Widget -> model: a user's choice goes through userSelectItem; a
  // disabled item is refused and the combo shows the model's choice.
  emit combo->activated(3);
  EXPECT_EQ(pop->indexOfSelectedItem(), 3);
  EXPECT_EQ(target->count, 1);
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  EXPECT_EQ(pop->indexOfSelectedItem(), 3);
  EXPECT_EQ(combo->currentIndex(), 3);
  EXPECT_EQ(target->count, 1);

  // Enabled and hidden state.
  pop->setEnabled(false);
  EXPECT_FALSE(combo->isEnabled());
  pop->setHidden(true);
  EXPECT_TRUE(combo->isHidden());
  pop->setHidden(false);
  EXPECT_FALSE(combo->isHidden());
}

TEST_F(MirrorTest, CheckboxRadioMatrixAndLabelsBothWays) {
  auto root = Make<ui::View>(R(0, 0, 300, 200));
  root->setFlipped(true);
  auto box = Make<ui::Button>(R(10, 10, 150, 20));
  box->setButtonType(ui::ButtonType::Switch);
  box->setTitle("Glossy Mode");
  auto target = std::make_shared<Target>();
  box->setTarget(target);
  box->setAction("changed:");
  auto matrix = Make<ui::Matrix>(R(10, 40, 150, 40));
  matrix->addCell("Public User");
  matrix->addCell("Registered User");
  matrix->setCellEnabled(1, false);
  auto label = Make<ui::TextField>(R(10, 90, 150, 20));
  label->setEditable(false);
  label->setStringValue("Section Name:");
  root->addSubview(box);
  root->addSubview(matrix);
  root->addSubview(label);

  ViewMirror mirror(root);
  auto* check = qobject_cast<QCheckBox*>(mirror.widgetFor(box.get()));
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check->text(), "Glossy Mode");
  EXPECT_FALSE(check->isChecked());
  box->setState(1);
  EXPECT_TRUE(check->isChecked());
  check->click();  // the user: the model flips and sends its action
  EXPECT_EQ(box->state(), 0);
  EXPECT_FALSE(check->isChecked());
  EXPECT_EQ(target->count, 1);
  box->setTitle("Glossy");
  EXPECT_EQ(check->text(), "Glossy");

  auto radios = mirror.widgetFor(matrix.get())->findChildren<QRadioButton*>();
  ASSERT_EQ(radios.size(), 2);
  EXPECT_TRUE(radios[0]->isChecked());
  EXPECT_FALSE(radios[1]->isEnabled());
  matrix->setCellEnabled(1, true);
  EXPECT_TRUE(radios[1]->isEnabled());
  radios[1]->click();
  EXPECT_EQ(matrix->selectedRow(), 1);
  matrix->selectCellAtRow(0);
  EXPECT_TRUE(radios[0]->isChecked());
  EXPECT_FALSE(radios[1]->isChecked());

  auto* text = qobject_cast<QLabel*>(mirror.widgetFor(label.get()));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), "Section Name:");
  label->setEnabled(false);
  EXPECT_FALSE(text->isEnabled());
  label->setTextColor(ui::Color::disabledText());
  EXPECT_EQ(text->palette().color(QPalette::Active, QPalette::WindowText), QColor(128, 128, 128));
  label->setStringValue("Name:");
  EXPECT_EQ(text->text(), "Name:");
}

TEST_F(MirrorTest, TextFieldFilterCycleShowsTheModelsTextAndCaret) {
  auto root = Make<ui::View>(R(0, 0, 300, 100));
  auto field = Make<LimitedField>(R(10, 10, 150, 22));
  auto secure = Make<ui::SecureTextField>(R(10, 40, 150, 22));
  root->addSubview(field);
  root->addSubview(secure);
  ViewMirror mirror(root);
  auto* edit = qobject_cast<QLineEdit*>(mirror.widgetFor(field.get()));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(qobject_cast<QLineEdit*>(mirror.widgetFor(secure.get()))->echoMode(), QLineEdit::Password);

  // Typed one key at a time: the filter upper-cases and stops at five.
  QTest::keyClicks(edit, "abcdefg");
  EXPECT_EQ(field->stringValue(), "ABCDE");
  EXPECT_EQ(edit->text(), "ABCDE");
  ASSERT_NE(field->currentEditor(), nullptr);
  EXPECT_EQ(field->currentEditor()->selectedRange().location, 5);
  EXPECT_EQ(edit->cursorPosition(), 5);

  // The user's caret reaches the field editor.
  edit->setCursorPosition(2);
  EXPECT_EQ(field->currentEditor()->selectedRange().location, 2);
  // A refused insertion in the middle: the line edit shows the caret where
  // the model put it back (this filter: after its last accepted change),
  // not after the rejected key.
  QTest::keyClicks(edit, "x");
  EXPECT_EQ(edit->text(), "ABCDE");
  EXPECT_EQ(field->currentEditor()->selectedRange().location, 5);
  EXPECT_EQ(edit->cursorPosition(), 5);

  // Deleting in the middle, then typing there.
  edit->setCursorPosition(3);
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(field->stringValue(), "ABDE");
  EXPECT_EQ(edit->cursorPosition(), 2);
  QTest::keyClicks(edit, "z");
  EXPECT_EQ(field->stringValue(), "ABZDE");
  EXPECT_EQ(edit->text(), "ABZDE");
  EXPECT_EQ(edit->cursorPosition(), 3);

  // A whole-text paste replaces the selection; too long, so refused.
  edit->selectAll();
  edit->insert("abcdefgh");
  EXPECT_EQ(field->stringValue(), "ABZDE");
  EXPECT_EQ(edit->text(), "ABZDE");

  // Leaving the field ends editing; a model change shows again.
  EXPECT_TRUE(mirror.commitEditing());
  EXPECT_EQ(field->currentEditor(), nullptr);
  field->setStringValue("Q");
  EXPECT_EQ(edit->text(), "Q");
  field->setEnabled(false);
  EXPECT_FALSE(edit->isEnabled());
}

TEST_F(MirrorTest, ReplacedSubviewsAreRebuiltAndFramesFollowTheAxis) {
  auto root = Make<ui::View>(R(0, 0, 400, 300));
  root->setFlipped(true);
  auto container = Make<ui::View>(R(0, 0, 400, 200));  // not flipped: y grows upwards
  auto paneA = Make<ui::View>(R(0, 0, 400, 200));
  auto paneB = Make<ui::Box>(R(0, 0, 400, 200));
  paneB->setTitle("Advanced");
  auto labelA = Make<ui::TextField>(R(10, 150, 100, 20));
  labelA->setEditable(false);
  labelA->setStringValue("pane A");
  paneA->addSubview(labelA);
  auto buttonB = Make<ui::Button>(R(10, 10, 100, 24));
  buttonB->setTitle("Back");
  paneB->addSubview(buttonB);
  container->addSubview(paneA);
  root->addSubview(container);

  ViewMirror mirror(root);
  QWidget* containerWidget = mirror.widgetFor(container.get());
  ASSERT_NE(containerWidget, nullptr);
  QWidget* a = mirror.widgetFor(labelA.get());
  ASSERT_NE(a, nullptr);
  // Bottom-up: 200 - 150 - 20.
  EXPECT_EQ(a->geometry(), QRect(10, 30, 100, 20));
  labelA->setFrame(R(10, 0, 100, 20));
  EXPECT_EQ(a->geometry(), QRect(10, 180, 100, 20));
  EXPECT_EQ(mirror.widgetFor(paneB.get()), nullptr);

  int rebuilt = 0;
  QObject::connect(&mirror, &ViewMirror::treeRebuilt, [&] { ++rebuilt; });
  container->replaceSubview(paneA, paneB);
  EXPECT_EQ(rebuilt, 1);
  EXPECT_EQ(mirror.widgetFor(paneA.get()), nullptr);
  EXPECT_EQ(mirror.widgetFor(labelA.get()), nullptr);
  auto* group = qobject_cast<QGroupBox*>(mirror.widgetFor(paneB.get()));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->parentWidget(), containerWidget);
  EXPECT_EQ(group->title(), "Advanced");
  ASSERT_NE(mirror.widgetFor(buttonB.get()), nullptr);
  EXPECT_EQ(mirror.widgetFor(buttonB.get())->parentWidget(), group);

  // The detached pane is no longer observed: changing it touches nothing.
  labelA->setStringValue("changed while hidden");
  container->replaceSubview(paneB, paneA);
  auto* back = qobject_cast<QLabel*>(mirror.widgetFor(labelA.get()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->text(), "changed while hidden");
  EXPECT_EQ(mirror.widgetFor(buttonB.get()), nullptr);
}

TEST_F(MirrorTest, TabViewPagesAndSelection) {
  auto root = Make<ui::View>(R(0, 0, 400, 300));
  auto tabs = Make<ui::TabView>(R(0, 0, 400, 300));
  auto page1 = Make<ui::View>(R(0, 0, 380, 250));
  auto page2 = Make<ui::View>(R(0, 0, 380, 250));
  auto pop = Make<ui::PopUpButton>(R(10, 10, 100, 26));
  pop->addItemWithTitle("sRGB");
  page2->addSubview(pop);
  tabs->addTabViewItem(ui::TabViewItem("image", "Image", page1));
  tabs->addTabViewItem(ui::TabViewItem("text", "Text", page2));
  root->addSubview(tabs);

  ViewMirror mirror(root);
  auto* widget = qobject_cast<QTabWidget*>(mirror.widgetFor(tabs.get()));
  ASSERT_NE(widget, nullptr);
  ASSERT_EQ(widget->count(), 2);
  EXPECT_EQ(widget->tabText(1), "Text");
  // The unselected tab's controls are mirrored too.
  ASSERT_NE(mirror.widgetFor(pop.get()), nullptr);
  tabs->selectTabViewItemAtIndex(1);
  EXPECT_EQ(widget->currentIndex(), 1);
  widget->setCurrentIndex(0);  // the user
  EXPECT_EQ(tabs->indexOfSelectedTabViewItem(), 0);
  tabs->setTabLabel(0, "Photo");
  EXPECT_EQ(widget->tabText(0), "Photo");
}

}  // namespace

namespace {

// Three rows with a check-box column; row 2 cannot be selected.
class Rows : public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  int numberOfRowsInTableView(ui::TableView*) override { return static_cast<int>(names.size()); }
  cf::Ref tableViewObjectValue(ui::TableView*, const ui::TableColumn& column, int row) override {
    if (column.identifier == "inmenu") return cf::num(shown[static_cast<size_t>(row)]);
    return cf::str(names[static_cast<size_t>(row)]);
  }
  void tableViewSetObjectValue(ui::TableView*, const cf::Ref& value, const ui::TableColumn&, int row) override {
    auto n = cf::As<cf::Number>(value);
    if (n && row != 0) shown[static_cast<size_t>(row)] = n->int64Value() ? 1 : 0;  // row 0 stays as it is
  }
  bool tableViewShouldSelectRow(ui::TableView*, int row) override { return row != 2; }
  std::vector<std::string> names{"sRGB.icc", "Photo.icc", "Press.icc"};
  std::vector<int> shown{1, 0, 1};
};

TEST_F(MirrorTest, TableShowsTheDataSourceAndReplaysClicks) {
  auto root = Make<ui::View>(R(0, 0, 400, 200));
  auto table = Make<ui::TableView>(R(0, 0, 400, 200));
  ui::TableColumn check;
  check.identifier = "inmenu";
  check.kind = ui::TableColumn::Kind::CheckBox;
  check.editable = true;
  ui::TableColumn name;
  name.identifier = "filename";
  name.title = "File Name";
  table->addTableColumn(check);
  table->addTableColumn(name);
  auto rows = std::make_shared<Rows>();
  table->setDataSource(rows);
  table->setDelegate(rows);
  root->addSubview(table);

  ViewMirror mirror(root);
  auto* widget = qobject_cast<QTableWidget*>(mirror.widgetFor(table.get()));
  ASSERT_NE(widget, nullptr);
  ASSERT_EQ(widget->rowCount(), 3);
  EXPECT_EQ(widget->item(1, 1)->text(), "Photo.icc");
  EXPECT_EQ(widget->horizontalHeaderItem(1)->text(), "File Name");
  EXPECT_EQ(widget->item(0, 0)->checkState(), Qt::Checked);
  EXPECT_EQ(widget->item(1, 0)->checkState(), Qt::Unchecked);

  // The user ticks row 1: the data source takes it. Row 0 refuses: the
  // box shows the data source's value again.
  widget->item(1, 0)->setCheckState(Qt::Checked);
  EXPECT_EQ(rows->shown[1], 1);
  widget->item(0, 0)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(rows->shown[0], 1);
  EXPECT_EQ(widget->item(0, 0)->checkState(), Qt::Checked);

  // Selection goes through the delegate.
  widget->selectRow(1);
  EXPECT_EQ(table->selectedRow(), 1);
  widget->selectRow(2);
  EXPECT_EQ(table->selectedRow(), 1);
  EXPECT_EQ(widget->selectionModel()->selectedRows().value(0).row(), 1);

  rows->names.push_back("New.icc");
  rows->shown.push_back(0);
  table->reloadData();
  EXPECT_EQ(widget->rowCount(), 4);
}

}  // namespace
