// Views that hold or show other things: boxes, images, tab views, image
// cells and table views with their data source and delegate.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cf/cf.h"
#include "ui/view.h"

namespace ui {

class Box : public View {
 public:
  std::string className() const override { return "Box"; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t);

 private:
  std::string title_;
};

class ImageView;
// An image known by its file; hosts load the pixels.
class Image {
 public:
  explicit Image(std::string path) : path_(std::move(path)) {}
  // Null when no file is at the path.
  static std::shared_ptr<Image> imageWithContentsOfFile(const std::string& path);
  const std::string& path() const { return path_; }
  Size size() const { return size_; }
  void setSize(Size s) { size_ = s; }

 private:
  std::string path_;
  Size size_{16, 16};
};
using ImageRef = std::shared_ptr<Image>;

class TabViewItem {
 public:
  TabViewItem(std::string identifier, std::string label, ViewRef view)
      : identifier_(std::move(identifier)), label_(std::move(label)), view_(std::move(view)) {}
  const std::string& identifier() const { return identifier_; }
  const std::string& label() const { return label_; }
  void setLabel(const std::string& l) { label_ = l; }
  ViewRef view() const { return view_; }

 private:
  std::string identifier_, label_;
  ViewRef view_;
};

class TabView : public Control {
 public:
  std::string className() const override { return "TabView"; }
  int numberOfTabViewItems() const { return static_cast<int>(items_.size()); }
  TabViewItem* tabViewItemAtIndex(int i);
  void addTabViewItem(TabViewItem item);
  void setTabLabel(int i, const std::string& label);
  // Out-of-range indices change nothing.
  void selectTabViewItemAtIndex(int i);
  int indexOfSelectedTabViewItem() const { return selected_; }
  bool userSelectTab(int i);

 private:
  std::vector<TabViewItem> items_;
  int selected_ = -1;
};

// A cell that draws an image only (no text); the "icon" column uses one.
class Cell : public NibObject {
 public:
  std::string className() const override { return "Cell"; }
  ImageRef image() const { return image_; }
  void setImage(ImageRef i) { image_ = std::move(i); }
  // Where a host draws the image inside a cell frame, or nullopt for no
  // drawing. Default: nothing.
  virtual std::optional<Rect> imageRectForFrame(Rect frame, bool flipped) const;

 private:
  ImageRef image_;
};
using CellRef = std::shared_ptr<Cell>;

class TableView;
struct TableColumn {
  std::string identifier;
  std::string title;
  enum class Kind { Text, CheckBox, Image } kind = Kind::Text;
  CellRef dataCell;  // optional custom cell
  double fontSize = 0;  // 0: default
  bool editable = false;
};

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfRowsInTableView(TableView* table) = 0;
  virtual cf::Ref tableViewObjectValue(TableView* table, const TableColumn& column, int row) = 0;
  virtual void tableViewSetObjectValue(TableView*, const cf::Ref&, const TableColumn&, int) {}
};
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual bool tableViewShouldSelectRow(TableView*, int) { return true; }
  virtual void tableViewSelectionDidChange(TableView*) {}
  virtual bool selectionShouldChangeInTableView(TableView*) { return true; }
};

class TableView : public Control {
 public:
  std::string className() const override { return "TableView"; }
  void addTableColumn(TableColumn c);
  std::vector<TableColumn>& tableColumns() { return columns_; }
  TableColumn* tableColumnWithIdentifier(const std::string& id);
  void setDataSource(std::weak_ptr<TableViewDataSource> ds) { dataSource_ = std::move(ds); }
  void setDelegate(std::weak_ptr<TableViewDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  std::shared_ptr<TableViewDelegate> delegate() const { return delegate_.lock(); }
  int numberOfRows() const;
  cf::Ref objectValue(int column, int row) const;
  void reloadData();
  int selectedRow() const { return selected_; }
  // Programmatic: no delegate questions; -1 clears. Out of range: nothing.
  void selectRow(int row);
  void deselectAll();
  // What a user does: asks selectionShouldChange and shouldSelectRow, then
  // selects and reports selectionDidChange. -1 clicks empty space.
  bool userSelectRow(int row);
  // A user toggles an editable check-box cell: sends setObjectValue.
  bool userSetObjectValue(int column, int row, const cf::Ref& value);

 private:
  std::vector<TableColumn> columns_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  int selected_ = -1;
};

}  // namespace ui
