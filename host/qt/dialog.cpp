#include "dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <set>

namespace qthost {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A name that is safe as part of a file name: letters of any script stay
// (file names are UTF-8), path separators, controls and the like do not.
std::string FileNamePart(const std::string& s) {
  QString out;
  for (QChar c : QString::fromStdString(s)) out += c.isLetterOrNumber() || c == '.' || c == '-' || c == '_' ? c : '_';
  if (out.isEmpty() || out[0] == '.') out.prepend('_');
  return out.toStdString();
}

void Reachable(ui::View* v, std::set<const ui::View*>& out) {
  if (!v) return;
  out.insert(v);
  v->forEachDescendant([&](ui::View* d) { out.insert(d); });
}

}  // namespace

PrintDialog::PrintDialog(host::DialogSession& session, const QString& printer, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle(tr("Print"));
  setObjectName("r2740-print-dialog");
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Printer: %1").arg(printer), this));
  top->addStretch(1);
  chooser_ = new QComboBox(this);
  chooser_->setObjectName("panel-chooser");
  top->addWidget(Caption(tr("Pa&nel:"), chooser_, this));
  top->addWidget(chooser_);
  layout->addLayout(top);

  stack_ = new QStackedWidget(this);
  layout->addWidget(stack_, 1);
  int width = 400, height = 200;
  for (auto& p : session_.panels()) {
    chooser_->addItem(Q(p.name));
    auto* scroll = new QScrollArea(stack_);
    scroll->setFrameShape(QFrame::NoFrame);
    if (p.view) {
      auto mirror = std::make_unique<ViewMirror>(p.view, nullptr);
      QWidget* w = mirror->widget();
      width = std::max(width, w->width());
      height = std::max(height, w->height());
      scroll->setWidget(w);
      mirrors_.push_back(std::move(mirror));
    } else {
      scroll->setWidget(new QLabel(tr("This panel has no view."), scroll));
      mirrors_.push_back(nullptr);
    }
    stack_->addWidget(scroll);
  }
  chooser_->insertSeparator(chooser_->count());
  chooser_->addItem(tr(kSummaryName));
  summary_ = new QTreeWidget(stack_);
  summary_->setObjectName("summary");
  summary_->setColumnCount(2);
  summary_->setHeaderLabels({tr("Item"), tr("Value")});
  summary_->setAccessibleName(tr(kSummaryName));
  summary_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  stack_->addWidget(summary_);
  stack_->setMinimumSize(width + 4, height + 4);

  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setWordWrap(true);
  status_->setAccessibleName(tr("Status"));
  layout->addWidget(status_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* printButton = buttons->addButton(tr("Print"), QDialogButtonBox::AcceptRole);
  printButton->setObjectName("print");
  printButton->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel)->setObjectName("cancel");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(printButton, &QPushButton::clicked, this, [this] {
    std::string why;
    if (print(&why)) {
      accept();
    } else {
      status_->setText(Q(why));
    }
  });

  // The chooser's rows: pages, a separator, the summary.
  connect(chooser_, &QComboBox::activated, this, [this](int row) {
    int index = row < pageCount() ? row : pageCount();
    if (!showPanel(index)) {
      QSignalBlocker block(chooser_);
      chooser_->setCurrentIndex(current_ < pageCount() ? current_ : current_ + 1);
    }
  });

  // The session opened every panel already (restore, view, willShow).
  current_ = panelCount() > 0 ? 0 : panelCount();
  if (current_ == panelCount()) refreshSummary();
  stack_->setCurrentIndex(current_);
  chooser_->setCurrentIndex(current_ < panelCount() ? current_ : current_ + 1);
  layout->activate();
  resize(sizeHint());
}

PrintDialog::~PrintDialog() {
  // The mirrors stop observing the panels' views before the widgets go.
  mirrors_.clear();
}

ViewMirror* PrintDialog::mirror(int panel) const {
  if (panel < 0 || panel >= panelCount()) return nullptr;
  return mirrors_[static_cast<size_t>(panel)].get();
}

void PrintDialog::setGeneral(QWidget* general) {
  // Below the printer line (and the job's line above it).
  if (auto* box = qobject_cast<QVBoxLayout*>(layout())) box->insertWidget(job_ ? 2 : 1, general);
  // Tab goes as the eye does: the chooser, the general options, the page.
  std::vector<QWidget*> chain;
  for (QWidget* w = general->nextInFocusChain(); w != general && general->isAncestorOf(w) && chain.size() < 1000;
       w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus && !w->focusProxy()) chain.push_back(w);
  QWidget* previous = chooser_;
  for (QWidget* w : chain) {
    QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

void PrintDialog::setJob(const host::HeldJobInfo& job) {
  if (job.empty()) return;
  setWindowTitle(job.name.empty() ? tr("Print job %1").arg(Q(job.id))
                                  : tr("Print job %1: %2").arg(Q(job.id), Q(job.name)));
  QStringList parts{job.name.empty() ? tr("Job %1").arg(Q(job.id)) : tr("Job %1 \"%2\"").arg(Q(job.id), Q(job.name))};
  if (!job.pages.empty()) parts << (job.pages == "1" ? tr("1 page") : tr("%1 pages").arg(Q(job.pages)));
  if (!job.application.empty() && !job.host.empty()) parts << tr("from %1 on %2").arg(Q(job.application), Q(job.host));
  else if (!job.application.empty() || !job.host.empty()) parts << tr("from %1").arg(Q(job.application + job.host));
  if (job.sent > 0)
    parts << tr("sent %1").arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(job.sent), QLocale::ShortFormat));
  if (!job_) {
    job_ = new QLabel(this);
    job_->setObjectName("job");
    // The sender chose the name: never read as rich text.
    job_->setTextFormat(Qt::PlainText);
    job_->setWordWrap(true);
    job_->setAccessibleName(tr("Job"));
    if (auto* box = qobject_cast<QVBoxLayout*>(layout())) box->insertWidget(0, job_);
  }
  job_->setText(parts.join(tr(", ")));
}

void PrintDialog::addPage(const QString& name, QWidget* page) {
  int at = pageCount();
  bool onSummary = current_ == at;
  chooser_->insertItem(at, name);
  auto* scroll = new QScrollArea(stack_);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(page);
  stack_->insertWidget(at, scroll);
  hostPages_.push_back(name);
  if (onSummary) current_ = pageCount();
}

bool PrintDialog::showPanel(int index) {
  if (index < 0 || index > pageCount()) return false;
  if (index == current_) {
    if (index == pageCount()) refreshSummary();
    return true;
  }
  if (current_ >= 0 && current_ < panelCount()) {
    if (ViewMirror* m = mirror(current_)) m->commitEditing();
    auto& p = session_.panels()[static_cast<size_t>(current_)];
    if (!p.panel->shouldHide()) {
      status_->setText(tr("The panel \"%1\" cannot be left now.").arg(Q(p.name)));
      return false;
    }
  }
  status_->clear();
  current_ = index;
  if (index < panelCount())
    session_.panels()[static_cast<size_t>(index)].panel->willShow();
  else if (index == pageCount())
    refreshSummary();
  stack_->setCurrentIndex(index);
  // A page shown while the dialog is hidden keeps a stale size until the
  // next layout pass; renders happen before that.
  if (QWidget* page = stack_->currentWidget()) page->setGeometry(stack_->contentsRect());
  QSignalBlocker block(chooser_);
  chooser_->setCurrentIndex(index < pageCount() ? index : index + 1);
  return true;
}

void PrintDialog::refreshSummary() {
  summary_->clear();
  auto summaries = session_.summaries();
  if (summaryExtra_)
    for (auto& s : summaryExtra_()) summaries.push_back(std::move(s));
  for (const auto& s : summaries) {
    auto* panel = new QTreeWidgetItem(summary_, {Q(s.panelName)});
    QFont bold = panel->font(0);
    bold.setBold(true);
    panel->setFont(0, bold);
    for (const auto& [item, value] : s.rows) new QTreeWidgetItem(panel, {Q(item), Q(value)});
    panel->setExpanded(true);
  }
}

bool PrintDialog::commitEditing() {
  bool ok = true;
  for (auto& m : mirrors_)
    if (m && !m->commitEditing()) ok = false;
  return ok;
}

bool PrintDialog::print(std::string* why) {
  if (!commitEditing()) {
    *why = "a text field does not accept what was typed";
    return false;
  }
  if (!session_.print(why)) return false;
  if (submit_ && !submit_(why)) return false;
  return true;
}

bool OpenShowingProgress(host::DialogSession& session, const QString& printer, std::string* error) {
  QDialog busy;
  busy.setObjectName(kOpeningName);
  busy.setWindowTitle(PrintDialog::tr("Print"));
  auto* layout = new QVBoxLayout(&busy);
  layout->addWidget(new QLabel(PrintDialog::tr("Printer: %1").arg(printer), &busy));
  auto* line = new QLabel(PrintDialog::tr("Asking %1 for its colour profiles...").arg(printer), &busy);
  line->setObjectName("status");
  line->setAccessibleName(PrintDialog::tr("Status"));
  layout->addWidget(line);
  auto* bar = new QProgressBar(&busy);
  bar->setRange(0, 0);  // busy, no known end
  bar->setAccessibleName(line->text());
  layout->addWidget(bar);
  busy.resize(420, busy.sizeHint().height());
  QGuiApplication::setOverrideCursor(Qt::BusyCursor);
  busy.show();
  // Painted before the panels are asked to open (bounded: a display that
  // never exposes the window costs at most about a second).
  for (int i = 0; i < 100 && !(busy.windowHandle() && busy.windowHandle()->isExposed()); ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  busy.repaint();
  QCoreApplication::processEvents();
  bool ok = session.open(error);
  QGuiApplication::restoreOverrideCursor();
  return ok;
}

void ShowStartupFailure(const std::string& why) {
  QMessageBox box(QMessageBox::Critical, QObject::tr("Print"), QObject::tr("The print dialog cannot open."),
                  QMessageBox::Ok);
  box.setObjectName(kStartupFailureName);
  box.setInformativeText(Q(why));
  box.exec();
}

bool SaveWidgetPNG(QWidget* widget, const std::string& path, std::string* error) {
  if (!widget) {
    *error = "nothing to render for " + path;
    return false;
  }
  if (QLayout* l = widget->layout()) l->activate();
  QPixmap pixmap = widget->grab();
  if (pixmap.isNull() || !pixmap.save(Q(path), "PNG")) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WriteScreenshots(PrintDialog& dialog, host::DialogSession& session, const std::string& dir,
                      std::vector<std::string>* written, std::string* error) {
  if (!QDir().mkpath(Q(dir))) {
    *error = "cannot create " + dir;
    return false;
  }
  int start = dialog.currentIndex();
  // Laid out as if shown (scroll areas and stacked pages size themselves
  // only then), but never put on a screen.
  bool wasVisible = dialog.isVisible();
  if (!wasVisible) {
    dialog.setAttribute(Qt::WA_DontShowOnScreen, true);
    dialog.show();
  }
  struct Hide {
    PrintDialog& d;
    bool keep;
    ~Hide() {
      if (!keep) {
        d.hide();
        d.setAttribute(Qt::WA_DontShowOnScreen, false);
      }
    }
  } hide{dialog, wasVisible};
  std::set<std::string> used;
  auto shoot = [&](const std::string& name) {
    QCoreApplication::processEvents();
    // Two panes of one name get "-2", "-3"... rather than one overwriting the other.
    std::string unique = name;
    for (int n = 2; !used.insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
    std::string path = dir + "/" + unique + ".png";
    if (!SaveWidgetPNG(&dialog, path, error)) return false;
    written->push_back(path);
    return true;
  };
  for (int i = 0; i < dialog.panelCount(); ++i) {
    dialog.showPanel(i);
    auto& p = session.panels()[static_cast<size_t>(i)];
    std::string panelName = FileNamePart(p.name);
    std::set<const ui::View*> shown;
    Reachable(p.view.get(), shown);
    std::vector<ui::ViewRef> inTree, detached;
    for (const auto& v : p.panel->allViews()) {
      if (!v || v == p.view) continue;
      (shown.count(v.get()) ? inTree : detached).push_back(v);
    }
    auto paneName = [&](const ui::ViewRef& v) {
      if (!v) return panelName;
      if (!v->identifier().empty()) return FileNamePart(v->identifier());
      return FileNamePart(v->className());
    };
    if (!shoot(panelName + "-" + paneName(inTree.empty() ? nullptr : inTree.front()))) return false;
    for (const auto& pane : detached) {
      // Shown in place of a pane of the same container, then put back.
      ui::ViewRef current;
      for (const auto& c : inTree)
        if (c->superview()) current = c;
      if (!current) continue;
      ui::View* container = current->superview();
      container->replaceSubview(current, pane);
      bool ok = shoot(panelName + "-" + paneName(pane));
      container->replaceSubview(pane, current);
      if (!ok) return false;
    }
  }
  for (int i = dialog.panelCount(); i < dialog.pageCount(); ++i) {
    dialog.showPanel(i);
    if (!shoot(FileNamePart(dialog.chooser()->itemText(i).toStdString()))) return false;
  }
  dialog.showPanel(dialog.summaryIndex());
  if (!shoot(kSummaryName)) return false;
  dialog.showPanel(start);
  return true;
}

}  // namespace qthost
