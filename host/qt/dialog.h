// The print dialog over one host::DialogSession: a chooser of panels (each
// plug-in panel, then "Summary"), the chosen panel's mirrored view, and
// Cancel / Print. Switching panels follows the print system: the panel
// shown is asked shouldHide (NO keeps it), the next one gets willShow.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend.h"
#include "host.h"
#include "mirror.h"

class QComboBox;
class QLabel;
class QStackedWidget;
class QTreeWidget;

namespace qthost {

// The window shown while the panels open.
inline constexpr const char* kOpeningName = "r2740-opening";
inline constexpr const char* kSummaryName = QT_TRANSLATE_NOOP("qthost::PrintDialog", "Summary");

class PrintDialog : public QDialog {
  Q_OBJECT

 public:
  // Called after every panel agreed to print; submits the job. False with
  // a reason keeps the dialog open.
  using Submit = std::function<bool(std::string* message)>;

  PrintDialog(host::DialogSession& session, const QString& printer, QWidget* parent = nullptr);
  ~PrintDialog() override;

  int panelCount() const { return static_cast<int>(mirrors_.size()); }
  // Pages: the plug-in panels, then the dialog's own (addPage).
  int pageCount() const { return panelCount() + static_cast<int>(hostPages_.size()); }
  // 0..panelCount()-1 a panel, then the dialog's own pages, pageCount()
  // the summary.
  int currentIndex() const { return current_; }
  int summaryIndex() const { return pageCount(); }
  // The dialog's general part, shown above every page.
  void setGeneral(QWidget* general);
  // A page of the dialog's own after the panels (the dialog takes it).
  void addPage(const QString& name, QWidget* page);
  bool showPanel(int index);
  ViewMirror* mirror(int panel) const;
  QTreeWidget* summaryView() const { return summary_; }
  QComboBox* chooser() const { return chooser_; }
  QLabel* status() const { return status_; }
  // Names the held job the dialog was opened for, in the window title and
  // in a line on top; the values are shown as plain text, never markup.
  void setJob(const host::HeldJobInfo& job);
  QLabel* jobLine() const { return job_; }
  void refreshSummary();

  // Ends editing of every text field (false when one refuses).
  bool commitEditing();
  void setSubmit(Submit fn) { submit_ = std::move(fn); }
  // Blocks the Summary shows after the panels' (the general options).
  void setSummaryExtra(std::function<std::vector<host::PanelSummary>()> fn) { summaryExtra_ = std::move(fn); }
  // What the Print button does: commit edits, every panel saves and must
  // answer shouldPrint YES, then the job is submitted. False (the dialog
  // stays open) with the reason.
  bool print(std::string* why);

 private:
  host::DialogSession& session_;
  std::vector<std::unique_ptr<ViewMirror>> mirrors_;
  QComboBox* chooser_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QTreeWidget* summary_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* job_ = nullptr;
  int current_ = -1;
  std::vector<QString> hostPages_;
  Submit submit_;
  std::function<std::vector<host::PanelSummary>()> summaryExtra_;
};

// One PNG per panel and per pane of it into `dir`, "<panel>-<pane>.png",
// and "Summary.png". A panel's panes are the views of PDEPanel::allViews()
// besides its top view; a pane that is not in the view tree is shown in
// place of the one that is (through the model) while it is rendered, then
// put back. Paths written go to *written; false with a reason on the first
// failure.
bool WriteScreenshots(PrintDialog& dialog, host::DialogSession& session, const std::string& dir,
                      std::vector<std::string>* written, std::string* error);

// session.open() for a run with a window: opening may take seconds (a
// panel may ask the printer what it holds), so a window titled like the
// dialog is on screen first, with a busy cursor and a line saying what
// happens; it goes once the panels are open.
bool OpenShowingProgress(host::DialogSession& session, const QString& printer, std::string* error);

// Why the dialog cannot open (no PPD, unknown queue, no cupsd), in a
// modal message box named kStartupFailureName.
inline constexpr const char* kStartupFailureName = "r2740-startup-failure";
void ShowStartupFailure(const std::string& why);

// Renders a widget (shown or not) into a PNG file.
bool SaveWidgetPNG(QWidget* widget, const std::string& path, std::string* error);

}  // namespace qthost
