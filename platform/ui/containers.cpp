#include "ui/containers.h"

#include <sys/stat.h>

#include <algorithm>

namespace ui {

// ---- Box, Image, TabView, Cell --------------------------------------------

void Box::setTitle(const std::string& t) {
  if (t == title_) return;
  title_ = t;
  notify(Change::Title);
}

std::shared_ptr<Image> Image::imageWithContentsOfFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto image = std::make_shared<Image>(path);
  // A PNG tells its size in the header; other files keep the default.
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char h[24];
    if (std::fread(h, 1, sizeof h, f) == sizeof h && h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G' &&
        h[12] == 'I' && h[13] == 'H' && h[14] == 'D' && h[15] == 'R') {
      auto be32 = [&](int o) {
        return (static_cast<unsigned long>(h[o]) << 24) | (static_cast<unsigned long>(h[o + 1]) << 16) |
               (static_cast<unsigned long>(h[o + 2]) << 8) | h[o + 3];
      };
      image->setSize({static_cast<double>(be32(16)), static_cast<double>(be32(20))});
    }
    std::fclose(f);
  }
  return image;
}

TabViewItem* TabView::tabViewItemAtIndex(int i) {
  if (i < 0 || i >= numberOfTabViewItems()) return nullptr;
  return &items_[static_cast<size_t>(i)];
}

void TabView::addTabViewItem(TabViewItem item) {
  items_.push_back(std::move(item));
  notify(Change::Tabs);
  if (selected_ < 0) {
    selected_ = 0;
    notify(Change::Selection);
  }
}

void TabView::setTabLabel(int i, const std::string& label) {
  TabViewItem* item = tabViewItemAtIndex(i);
  if (!item || item->label() == label) return;
  item->setLabel(label);
  notify(Change::Tabs);
}

void TabView::selectTabViewItemAtIndex(int i) {
  if (i < 0 || i >= numberOfTabViewItems() || i == selected_) return;
  selected_ = i;
  notify(Change::Selection);
}

bool TabView::userSelectTab(int i) {
  if (!isEnabled() || i < 0 || i >= numberOfTabViewItems()) return false;
  selectTabViewItemAtIndex(i);
  sendAction();
  return true;
}

std::optional<Rect> Cell::imageRectForFrame(Rect, bool) const { return std::nullopt; }

// ---- TableView -------------------------------------------------------------

void TableView::addTableColumn(TableColumn c) {
  columns_.push_back(std::move(c));
  notify(Change::TableData);
}

TableColumn* TableView::tableColumnWithIdentifier(const std::string& id) {
  for (auto& c : columns_)
    if (c.identifier == id) return &c;
  return nullptr;
}

int TableView::numberOfRows() const {
  auto ds = dataSource();
  if (!ds) return 0;
  return std::max(0, ds->numberOfRowsInTableView(const_cast<TableView*>(this)));
}

cf::Ref TableView::objectValue(int column, int row) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  auto ds = dataSource();
  if (!ds || row < 0 || row >= numberOfRows()) return nullptr;
  return ds->tableViewObjectValue(const_cast<TableView*>(this), columns_[static_cast<size_t>(column)], row);
}

void TableView::reloadData() {
  if (selected_ >= numberOfRows()) {
    selected_ = -1;
    notify(Change::Selection);
  }
  notify(Change::TableData);
}

void TableView::selectRow(int row) {
  if (row < -1 || row >= numberOfRows() || row == selected_) return;
  selected_ = row;
  notify(Change::Selection);
}

void TableView::deselectAll() { selectRow(-1); }

bool TableView::userSelectRow(int row) {
  if (!isEnabled() || row < -1 || row >= numberOfRows()) return false;
  if (row != selected_) {
    auto d = delegate();
    if (d && !d->selectionShouldChangeInTableView(this)) return false;
    if (d && row >= 0 && !d->tableViewShouldSelectRow(this, row)) return false;
    selected_ = row;
    notify(Change::Selection);
    if (d) d->tableViewSelectionDidChange(this);
  }
  sendAction();
  return true;
}

bool TableView::userSetObjectValue(int column, int row, const cf::Ref& value) {
  if (!isEnabled() || column < 0 || column >= static_cast<int>(columns_.size())) return false;
  if (!columns_[static_cast<size_t>(column)].editable) return false;
  auto ds = dataSource();
  if (!ds || row < 0 || row >= numberOfRows()) return false;
  TableColumn col = columns_[static_cast<size_t>(column)];
  ds->tableViewSetObjectValue(this, value, col, row);
  notify(Change::TableData);
  return true;
}

}  // namespace ui
