#include "ui/ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace ui;

struct Recorder {
  std::vector<Change> changes;
  void attach(View& v) {
    v.addObserver([this](View*, Change c) { changes.push_back(c); });
  }
  bool saw(Change c) const { return std::find(changes.begin(), changes.end(), c) != changes.end(); }
};

class Target : public NibObject {
 public:
  Target() {
    action("selectItem:", [this](NibObject* s) {
      ++calls;
      sender = s;
    });
  }
  int calls = 0;
  NibObject* sender = nullptr;
};

TEST(PopUpButtonTest, SelectionNeverLeavesTheItems) {
  PopUpButton p;
  Recorder rec;
  rec.attach(p);
  p.selectItemAtIndex(0);  // no items yet
  EXPECT_EQ(p.indexOfSelectedItem(), -1);
  p.addItemWithTitle("A");
  p.addItemWithTitle("B");
  p.addItemWithTitle("C");
  EXPECT_EQ(p.indexOfSelectedItem(), 0);
  p.selectItemAtIndex(2);
  rec.changes.clear();
  for (int bad : {3, 4, 100, -2, -100}) {
    p.selectItemAtIndex(bad);
    EXPECT_EQ(p.indexOfSelectedItem(), 2) << bad;
    p.setIntValue(bad);
    EXPECT_EQ(p.intValue(), 2) << bad;
  }
  EXPECT_TRUE(rec.changes.empty());
  EXPECT_EQ(p.titleOfSelectedItem(), "C");
  EXPECT_FALSE(p.userSelectItem(3));
  EXPECT_EQ(p.indexOfSelectedItem(), 2);
  EXPECT_EQ(p.itemAtIndex(3), nullptr);
  EXPECT_EQ(p.itemTitleAtIndex(-1), "");

  p.selectItemAtIndex(-1);
  EXPECT_EQ(p.indexOfSelectedItem(), -1);
  EXPECT_EQ(p.selectedItem(), nullptr);
  EXPECT_TRUE(rec.saw(Change::Selection));

  // Removing items keeps the selection on an existing item.
  p.selectItemAtIndex(2);
  p.removeItemAtIndex(0);
  EXPECT_EQ(p.titleOfSelectedItem(), "C");
  p.removeItemAtIndex(1);
  EXPECT_EQ(p.indexOfSelectedItem(), 0);
  p.removeAllItems();
  EXPECT_EQ(p.indexOfSelectedItem(), -1);
}

TEST(PopUpButtonTest, DuplicateTitlesKeepTheirPositions) {
  PopUpButton p;
  p.addItemWithTitle("X");
  p.addItemWithTitle("X");
  EXPECT_EQ(p.numberOfItems(), 2);
  p.itemAtIndex(1)->setRepresentedObject(cf::num(7));
  EXPECT_EQ(p.indexOfItemWithRepresentedObject(cf::num(7)), 1);
  EXPECT_EQ(p.indexOfItemWithRepresentedObject(nullptr), -1);
  EXPECT_EQ(p.indexOfItemWithTitle("X"), 0);
}

TEST(PopUpButtonTest, PerItemEnabling) {
  auto p = std::make_shared<PopUpButton>();
  auto t = std::make_shared<Target>();
  p->setTarget(t);
  p->setAction("selectItem:");
  for (auto s : {"A", "B", "C"}) p->addItemWithTitle(s);

  p->setItemEnabled(1, false);
  // Auto-enabling on: every item counts as enabled, whatever its flag.
  EXPECT_TRUE(p->isItemEnabled(1));
  EXPECT_TRUE(p->userSelectItem(1));
  EXPECT_EQ(p->indexOfSelectedItem(), 1);
  EXPECT_EQ(t->calls, 1);
  EXPECT_EQ(t->sender, p.get());

  Recorder rec;
  rec.attach(*p);
  p->setAutoenablesItems(false);
  EXPECT_TRUE(rec.saw(Change::Items));
  EXPECT_FALSE(p->isItemEnabled(1));
  EXPECT_TRUE(p->isItemEnabled(2));
  EXPECT_FALSE(p->isItemEnabled(3));
  p->selectItemAtIndex(0);
  EXPECT_FALSE(p->userSelectItem(1));
  EXPECT_EQ(p->indexOfSelectedItem(), 0);
  EXPECT_EQ(t->calls, 1);
  // Programmatic selection of a disabled item is still allowed.
  p->selectItemAtIndex(1);
  EXPECT_EQ(p->indexOfSelectedItem(), 1);
  EXPECT_TRUE(p->userSelectItem(2));
  EXPECT_EQ(t->calls, 2);

  p->setEnabled(false);
  EXPECT_FALSE(p->userSelectItem(0));
  EXPECT_EQ(p->indexOfSelectedItem(), 2);
  EXPECT_EQ(t->calls, 2);
}

TEST(ButtonMatrixTabTest, UserActions) {
  auto t = std::make_shared<Target>();
  auto b = std::make_shared<Button>();
  b->setButtonType(ButtonType::Switch);
  b->setTarget(t);
  b->setAction("selectItem:");
  Recorder rec;
  rec.attach(*b);
  EXPECT_TRUE(b->userClick());
  EXPECT_EQ(b->state(), 1);
  EXPECT_TRUE(rec.saw(Change::State));
  EXPECT_TRUE(b->userClick());
  EXPECT_EQ(b->intValue(), 0);
  EXPECT_EQ(t->calls, 2);
  b->setIntValue(5);
  EXPECT_EQ(b->state(), 1);
  b->setEnabled(false);
  EXPECT_FALSE(b->userClick());
  EXPECT_EQ(b->state(), 1);

  // A target without the action: sending does nothing.
  b->setEnabled(true);
  b->setAction("nothing:");
  EXPECT_FALSE(b->sendAction());

  Matrix m;
  m.addCell("Public");
  m.addCell("Registered");
  EXPECT_EQ(m.selectedRow(), 0);
  m.selectCellAtRow(5);
  m.selectCellAtRow(-1);
  EXPECT_EQ(m.selectedRow(), 0);
  m.setCellEnabled(1, false);
  EXPECT_FALSE(m.userSelectCell(1));
  m.setCellEnabled(1, true);
  EXPECT_TRUE(m.userSelectCell(1));
  EXPECT_EQ(m.intValue(), 1);

  TabView tabs;
  EXPECT_EQ(tabs.indexOfSelectedTabViewItem(), -1);
  auto page = std::make_shared<View>();
  auto inner = std::make_shared<PopUpButton>();
  inner->setIdentifier("QVHalftone");
  page->addSubview(inner);
  tabs.addTabViewItem(TabViewItem("image", "Image", std::make_shared<View>()));
  tabs.addTabViewItem(TabViewItem("text", "Text", page));
  EXPECT_EQ(tabs.indexOfSelectedTabViewItem(), 0);
  tabs.selectTabViewItemAtIndex(2);
  EXPECT_EQ(tabs.indexOfSelectedTabViewItem(), 0);
  EXPECT_TRUE(tabs.userSelectTab(1));
  EXPECT_EQ(tabs.indexOfSelectedTabViewItem(), 1);
  // Controls on any tab are found by their key.
  tabs.selectTabViewItemAtIndex(0);
  EXPECT_EQ(tabs.findByIdentifier("QVHalftone"), inner);
}

TEST(ViewTreeTest, SubviewsAndReplacement) {
  auto root = std::make_shared<View>();
  auto a = std::make_shared<View>();
  auto b = std::make_shared<View>();
  auto c = std::make_shared<View>();
  auto other = std::make_shared<View>();
  root->setIdentifier("root");
  a->setIdentifier("a");
  c->setIdentifier("c");
  Recorder rec;
  rec.attach(*root);
  root->addSubview(a);
  root->addSubview(b);
  EXPECT_TRUE(rec.saw(Change::Subviews));
  EXPECT_EQ(a->superview(), root.get());

  // addSubview moves a view from its old superview.
  other->addSubview(a);
  EXPECT_EQ(root->subviews().size(), 1u);
  EXPECT_EQ(a->superview(), other.get());
  root->addSubview(a);  // back: now after b
  EXPECT_EQ(root->subviews()[1], a);
  EXPECT_TRUE(other->subviews().empty());

  // Cycles are refused.
  a->addSubview(root);
  EXPECT_EQ(root->superview(), nullptr);

  // replaceSubview puts the replacement at the old place.
  root->replaceSubview(b, c);
  ASSERT_EQ(root->subviews().size(), 2u);
  EXPECT_EQ(root->subviews()[0], c);
  EXPECT_EQ(b->superview(), nullptr);
  // Not a subview: nothing is removed and the replacement stays put.
  other->addSubview(b);
  root->replaceSubview(std::make_shared<View>(), b);
  EXPECT_EQ(b->superview(), other.get());
  EXPECT_EQ(root->subviews().size(), 2u);
  // The replacement may come from another superview.
  root->replaceSubview(c, b);
  EXPECT_EQ(root->subviews()[0], b);
  EXPECT_TRUE(other->subviews().empty());

  EXPECT_EQ(root->findByIdentifier("root"), root);
  EXPECT_EQ(root->findByIdentifier("a"), a);
  EXPECT_EQ(root->findByIdentifier("c"), nullptr);
  int visited = 0;
  root->forEachDescendant([&](View*) { ++visited; });
  EXPECT_EQ(visited, 2);

  // A view owned only by its superview survives removeFromSuperview's own call.
  {
    auto only = std::make_shared<View>();
    root->addSubview(only);
  }
  root->subviews().back()->removeFromSuperview();
  EXPECT_EQ(root->subviews().size(), 2u);
}

TEST(ViewTest, ObserversSeeChanges) {
  TextField f;
  std::vector<Change> seen;
  int token = f.addObserver([&](View* v, Change c) {
    EXPECT_EQ(v, &f);
    seen.push_back(c);
  });
  f.setHidden(true);
  f.setEnabled(false);
  f.setTextColor(Color::red());
  f.setStringValue("x");
  f.setFrame({{1, 2}, {3, 4}});
  EXPECT_EQ(seen, (std::vector<Change>{Change::Hidden, Change::Enabled, Change::TextColor, Change::StringValue,
                                        Change::Frame}));
  f.removeObserver(token);
  f.setHidden(false);
  EXPECT_EQ(seen.size(), 5u);
}

// A field that refuses more than `max` UTF-16 units: it restores the old text
// and puts the caret back where it was, as the plug-ins' filtered fields do.
class LimitedField : public TextField {
 public:
  long max = 5;
  std::string oldValue;
  FieldEditor* textObj = nullptr;
  int changes = 0;
  bool allowBegin = true;
  bool allowEnd = true;

  bool textShouldBeginEditing(FieldEditor* editor) override {
    oldValue = stringValue();
    textObj = editor;
    return allowBegin && TextField::textShouldBeginEditing(editor);
  }
  bool textShouldEndEditing(FieldEditor* editor) override { return allowEnd && TextField::textShouldEndEditing(editor); }
  void textDidChange(FieldEditor* editor) override {
    ++changes;
    EXPECT_EQ(editor->string(), stringValue());
    long n = length();
    if (n > max) {
      long p = editor->selectedRange().location;
      long oldLen = static_cast<long>(cf::str(oldValue)->length());
      setStringValue(oldValue);
      editor->setSelectedRange({p - n + oldLen, 0});
      return;
    }
    // Drop every "x" (a filter that shortens the text without moving the caret).
    std::string s = stringValue();
    std::erase(s, 'x');
    if (s != stringValue()) setStringValue(s);
    oldValue = s;
  }
};

TEST(TextFieldTest, FilterCycleKeepsEditorConsistent) {
  LimitedField f;
  Recorder rec;
  rec.attach(f);
  ASSERT_TRUE(f.userBeginEditing());
  ASSERT_NE(f.currentEditor(), nullptr);
  EXPECT_EQ(f.textObj, f.currentEditor());
  EXPECT_TRUE(f.userType("abc"));
  EXPECT_EQ(f.stringValue(), "abc");
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 3);

  // Insert in the middle: caret after the inserted text.
  f.userSelect({1, 0});
  f.userType("Z");
  EXPECT_EQ(f.stringValue(), "aZbc");
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 2);

  // Too long: the field restores the old text and the caret stays where it
  // was before the refused keystroke.
  f.userType("QQ");
  EXPECT_EQ(f.stringValue(), "aZbc");
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 2);
  EXPECT_EQ(f.currentEditor()->selectedRange().length, 0);
  EXPECT_EQ(f.currentEditor()->string(), "aZbc");

  // Replace a selection at the end with text the filter shortens: the caret
  // is clamped into the shorter text.
  f.userSelect({2, 2});
  f.userType("xxx");
  EXPECT_EQ(f.stringValue(), "aZ");
  Range r = f.currentEditor()->selectedRange();
  EXPECT_LE(r.location + r.length, 2);

  // Non-BMP and Japanese text count UTF-16 units.
  f.setStringValue("");
  f.userType("日本");
  EXPECT_EQ(f.length(), 2);
  f.userType("😀");
  EXPECT_EQ(f.length(), 4);
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 4);
  f.userType("ab");  // 6 units > 5: refused
  EXPECT_EQ(f.stringValue(), "日本😀");
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 4);
  EXPECT_TRUE(f.userDeleteBackward());  // both units of the pair
  EXPECT_EQ(f.stringValue(), "日本");
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 2);

  // setStringValue while editing clamps the selection.
  f.userSelect({0, 2});
  f.setStringValue("q");
  r = f.currentEditor()->selectedRange();
  EXPECT_EQ(r.location, 0);
  EXPECT_EQ(r.length, 1);
  f.currentEditor()->setSelectedRange({9, 9});
  EXPECT_EQ(f.currentEditor()->selectedRange().location, 1);
  EXPECT_EQ(f.currentEditor()->selectedRange().length, 0);

  EXPECT_TRUE(rec.saw(Change::Editing));
  EXPECT_TRUE(rec.saw(Change::StringValue));

  // Refusing to end keeps editing; then ending works.
  f.allowEnd = false;
  EXPECT_FALSE(f.userEndEditing());
  EXPECT_NE(f.currentEditor(), nullptr);
  f.allowEnd = true;
  EXPECT_TRUE(f.userEndEditing());
  EXPECT_EQ(f.currentEditor(), nullptr);
  EXPECT_EQ(f.stringValue(), "q");

  // Typing begins editing again; abort ends without asking.
  f.allowEnd = false;
  EXPECT_TRUE(f.userType("r"));
  EXPECT_EQ(f.stringValue(), "qr");
  f.abortEditing();
  EXPECT_EQ(f.currentEditor(), nullptr);
}

TEST(TextFieldTest, RefusedOrImpossibleEditing) {
  LimitedField f;
  f.setStringValue("abc");
  f.allowBegin = false;
  EXPECT_FALSE(f.userBeginEditing());
  EXPECT_FALSE(f.userType("d"));
  EXPECT_EQ(f.currentEditor(), nullptr);
  EXPECT_EQ(f.stringValue(), "abc");
  EXPECT_EQ(f.changes, 0);

  f.allowBegin = true;
  f.setEditable(false);
  EXPECT_FALSE(f.userType("d"));
  f.setEditable(true);
  f.setEnabled(false);
  EXPECT_FALSE(f.userType("d"));
  EXPECT_EQ(f.stringValue(), "abc");

  // Disabling a field that is being edited ends editing.
  f.setEnabled(true);
  EXPECT_TRUE(f.userType("d"));
  f.setEnabled(false);
  EXPECT_EQ(f.currentEditor(), nullptr);

  SecureTextField s;
  EXPECT_TRUE(s.isSecure());
  EXPECT_EQ(s.className(), "SecureTextField");
}

class Source : public TableViewDataSource, public TableViewDelegate, public NibObject {
 public:
  std::vector<bool> on{true, false, true};
  bool allowChange = true;
  int refuseRow = -1;
  int didChange = 0;
  int numberOfRowsInTableView(TableView*) override { return static_cast<int>(on.size()); }
  cf::Ref tableViewObjectValue(TableView*, const TableColumn&, int row) override {
    return cf::Boolean::create(on[static_cast<size_t>(row)]);
  }
  void tableViewSetObjectValue(TableView*, const cf::Ref& v, const TableColumn&, int row) override {
    on[static_cast<size_t>(row)] = cf::As<cf::Boolean>(v)->value();
  }
  bool tableViewShouldSelectRow(TableView*, int row) override { return row != refuseRow; }
  bool selectionShouldChangeInTableView(TableView*) override { return allowChange; }
  void tableViewSelectionDidChange(TableView*) override { ++didChange; }
};

TEST(TableViewTest, SelectionAsksTheDelegate) {
  auto src = std::make_shared<Source>();
  TableView t;
  t.addTableColumn({"show", "Show", TableColumn::Kind::CheckBox, nullptr, 0, true});
  t.addTableColumn({"name", "Name", TableColumn::Kind::Text, nullptr, 0, false});
  EXPECT_EQ(t.numberOfRows(), 0);
  t.setDataSource(src);
  t.setDelegate(src);
  EXPECT_EQ(t.numberOfRows(), 3);
  EXPECT_TRUE(cf::Equal(t.objectValue(0, 1), cf::Boolean::kFalse()));
  EXPECT_EQ(t.objectValue(0, 3), nullptr);
  EXPECT_EQ(t.objectValue(2, 0), nullptr);

  EXPECT_TRUE(t.userSelectRow(1));
  EXPECT_EQ(t.selectedRow(), 1);
  EXPECT_EQ(src->didChange, 1);
  src->refuseRow = 2;
  EXPECT_FALSE(t.userSelectRow(2));
  EXPECT_EQ(t.selectedRow(), 1);
  src->allowChange = false;
  EXPECT_FALSE(t.userSelectRow(0));
  EXPECT_FALSE(t.userSelectRow(-1));
  EXPECT_EQ(t.selectedRow(), 1);
  src->allowChange = true;
  EXPECT_TRUE(t.userSelectRow(-1));
  EXPECT_EQ(t.selectedRow(), -1);
  EXPECT_FALSE(t.userSelectRow(3));

  t.selectRow(2);  // programmatic: no questions
  EXPECT_EQ(t.selectedRow(), 2);
  t.selectRow(7);
  EXPECT_EQ(t.selectedRow(), 2);
  src->on.pop_back();
  t.reloadData();
  EXPECT_EQ(t.selectedRow(), -1);

  EXPECT_TRUE(t.userSetObjectValue(0, 1, cf::Boolean::kTrue()));
  EXPECT_TRUE(src->on[1]);
  EXPECT_FALSE(t.userSetObjectValue(1, 1, cf::str("x")));  // not editable
  EXPECT_FALSE(t.userSetObjectValue(0, 5, cf::Boolean::kTrue()));

  // The table does not keep its data source alive.
  std::weak_ptr<Source> weak = src;
  src.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(t.numberOfRows(), 0);
}

class ScriptedHandler : public ModalHandler {
 public:
  int alertAnswer = kAlertSecondButtonReturn;
  std::string chosen;
  bool stopFromWindow = true;
  int nestedResult = 0;
  std::string lastAlert;
  int runAlert(Alert& a) override {
    lastAlert = a.messageText;
    return alertAnswer;
  }
  int runOpenPanel(OpenPanel& p) override {
    if (chosen.empty()) return kModalResponseCancel;
    p.filenames = {chosen};
    return kModalResponseOK;
  }
  void runModalForWindow(const WindowRef& w) override {
    EXPECT_EQ(Application::shared().modalWindow(), w);
    if (w->title() == "outer") {
      auto inner = std::make_shared<Window>();
      inner->setTitle("inner");
      nestedResult = Application::shared().runModalForWindow(inner);
      EXPECT_FALSE(Application::shared().modalStopRequested());
    }
    if (stopFromWindow) Application::shared().stopModalWithCode(w->title() == "inner" ? 7 : 1);
  }
};

TEST(ModalTest, HandlersAndDefaults) {
  SetModalHandler(nullptr);
  Alert a;
  a.messageText = "Enter a password";
  a.addButtonWithTitle("OK");
  a.addButtonWithTitle("Cancel");
  EXPECT_EQ(a.runModal(), kAlertFirstButtonReturn);
  OpenPanel p;
  p.filenames = {"stale"};
  EXPECT_EQ(p.runModal(), kModalResponseCancel);
  EXPECT_TRUE(p.filenames.empty());
  auto w = std::make_shared<Window>();
  w->setTitle("outer");
  EXPECT_EQ(Application::shared().runModalForWindow(w), kModalResponseAbort);
  EXPECT_FALSE(Application::shared().inModalSession());
  Application::shared().stopModal();  // outside a session: ignored
  EXPECT_FALSE(Application::shared().modalStopRequested());

  auto h = std::make_shared<ScriptedHandler>();
  SetModalHandler(h);
  EXPECT_EQ(a.runModal(), kAlertSecondButtonReturn);
  EXPECT_EQ(h->lastAlert, "Enter a password");
  h->chosen = "/tmp/x.icc";
  EXPECT_EQ(p.runModal(), kModalResponseOK);
  EXPECT_EQ(p.filenames, std::vector<std::string>{"/tmp/x.icc"});
  // Files the panel does not allow never come back; OK without a file is Cancel.
  p.fileTypes = {"icc", "icm"};
  h->chosen = "/tmp/x.txt";
  EXPECT_EQ(p.runModal(), kModalResponseCancel);
  EXPECT_TRUE(p.filenames.empty());
  h->chosen = "/tmp/icc";
  EXPECT_EQ(p.runModal(), kModalResponseCancel);
  h->chosen = "/tmp/y.ICM";
  EXPECT_EQ(p.runModal(), kModalResponseOK);
  EXPECT_EQ(p.filenames, std::vector<std::string>{"/tmp/y.ICM"});
  EXPECT_EQ(Application::shared().runModalForWindow(w), 1);
  EXPECT_EQ(h->nestedResult, 7);
  EXPECT_TRUE(w->isVisible());
  h->stopFromWindow = false;
  EXPECT_EQ(Application::shared().runModalForWindow(std::make_shared<Window>()), kModalResponseAbort);
  SetModalHandler(nullptr);
}

TEST(NotificationCenterTest, PostAndRemove) {
  auto& nc = NotificationCenter::defaultCenter();
  int a = 0, b = 0;
  int keyA, keyB;
  nc.addObserver(&keyA, "changed", [&] {
    ++a;
    nc.removeObserver(&keyB);  // removed while posting: not called any more
  });
  nc.addObserver(&keyB, "changed", [&] { ++b; });
  nc.addObserver(&keyB, "other", [&] { b += 10; });
  nc.postNotification("changed");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  nc.postNotification("other");
  EXPECT_EQ(b, 0);
  nc.removeObserver(&keyA, "changed");
  nc.postNotification("changed");
  EXPECT_EQ(a, 1);
}

TEST(ImageTest, FromFile) {
  EXPECT_EQ(Image::imageWithContentsOfFile("/nonexistent/icon.png"), nullptr);
  EXPECT_EQ(Image::imageWithContentsOfFile("/tmp"), nullptr);
  auto path = std::filesystem::temp_directory_path() / ("ui_test_icon_" + std::to_string(getpid()) + ".png");
  {
    std::ofstream out(path, std::ios::binary);
    const unsigned char png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0,    0,   0,   32,  0,    0,    0,    24};
    out.write(reinterpret_cast<const char*>(png), sizeof png);
  }
  auto img = Image::imageWithContentsOfFile(path.string());
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->size().width, 32);
  EXPECT_EQ(img->size().height, 24);
  std::filesystem::remove(path);

  Cell c;
  c.setImage(img);
  EXPECT_FALSE(c.imageRectForFrame({{0, 0}, {20, 16}}, true).has_value());
}

}  // namespace
