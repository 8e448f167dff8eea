// The dialog's own part around the plug-in panels: presets, copies,
// collation, pages, paper, orientation and two-sided on top of the dialog,
// and the "Printer Features" page with the PPD options that no panel
// claims. Every change goes through host::SetGeneralOption; what a widget
// cannot take is said in the dialog's status line and the widget shows the
// stored value again. Conflicts among the marked PPD choices (ppdConflicts)
// are listed under the options after every change.
#pragma once

#include <QWidget>

#include <string>

#include "dialog.h"
#include "dialogstart.h"
#include "host.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qthost {

inline constexpr const char* kPrinterFeaturesName = QT_TRANSLATE_NOOP("QObject", "Printer Features");

class GeneralPanel : public QWidget {
  Q_OBJECT

 public:
  // `start` must outlive the panel.
  GeneralPanel(host::DialogSession& session, const host::Queue& queue, const host::DialogStart& start,
               QWidget* parent = nullptr);

  // The "Printer Features" page (owned by the caller once taken), null when
  // every PPD option is shown elsewhere.
  QWidget* takeFeaturesPage();

  // Every widget from the print settings (after a preset was chosen).
  void refresh();
  // Takes the page range typed but not yet confirmed; false with a reason.
  bool commit(std::string* why);
  // Chooses a preset by name ("Default Settings" for the defaults) and
  // restores every panel from it; false with a reason.
  bool choosePreset(const std::string& name, std::string* why);
  // The panels save, then the settings are kept as the preset / as the
  // user's defaults for the queue; false with a reason.
  bool savePreset(const std::string& name, std::string* why);
  bool saveAsDefault(std::string* why);

  QComboBox* presets() const { return presets_; }
  QSpinBox* copies() const { return copies_; }
  QCheckBox* collate() const { return collate_; }
  QLineEdit* pages() const { return pages_; }
  QComboBox* paper() const { return paper_; }
  QDoubleSpinBox* customWidth() const { return width_; }
  QDoubleSpinBox* customHeight() const { return height_; }
  QComboBox* orientation() const { return orientation_; }
  QComboBox* duplex() const { return duplex_; }
  QLabel* conflicts() const { return conflicts_; }
  // The "General" block of the dialog's Summary.
  host::PanelSummary summary();

 signals:
  // A line for the dialog's status (empty clears it).
  void message(const QString& text);
  // The settings changed under the panels (a preset was chosen).
  void restored();

 private:
  bool set(const std::string& name, const std::string& value);
  void refreshPresets(const std::string& current);
  void updateConflicts();
  void paperChosen();

  host::DialogSession& session_;
  host::Queue queue_;
  const host::DialogStart& start_;
  QComboBox* presets_ = nullptr;
  QPushButton* savePreset_ = nullptr;
  QPushButton* saveDefault_ = nullptr;
  QSpinBox* copies_ = nullptr;
  QCheckBox* collate_ = nullptr;
  QLineEdit* pages_ = nullptr;
  QComboBox* paper_ = nullptr;
  QDoubleSpinBox* width_ = nullptr;
  QDoubleSpinBox* height_ = nullptr;
  QComboBox* orientation_ = nullptr;
  QComboBox* duplex_ = nullptr;
  QLabel* conflicts_ = nullptr;
  QWidget* features_ = nullptr;
  std::vector<std::pair<std::string, QComboBox*>> featureBoxes_;
  std::vector<ppd_option_t*> featureOptions_;
  bool refreshing_ = false;
};

// Puts the panel (which the dialog then owns) on top of the dialog, its
// "Printer Features" page after the plug-in panels, its messages into the
// status line and its block into the Summary.
void AttachGeneral(PrintDialog& dialog, GeneralPanel* general);

}  // namespace qthost
