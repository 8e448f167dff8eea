#include "generalpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <cstring>
#include <string_view>

#include "defaults.h"
#include "general.h"
#include "mirror.h"
#include "presets.h"

namespace qthost {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr const char* kCustomPaper = "Custom";

// Items titled with the PPD's text for each choice, the keyword as data.
QComboBox* ChoiceBox(ppd_file_t* ppd, ppd_option_t* option, QWidget* parent) {
  auto* box = new QComboBox(parent);
  for (int i = 0; option && i < option->num_choices; ++i) {
    const ppd_choice_t& c = option->choices[i];
    // libcups adds the choice "Custom" to PageSize when the PPD takes custom
    // sizes; the dialog's own entry, with its width and height, stands for it.
    if (std::strcmp(option->keyword, host::kPageSizeOption) == 0 && std::strcmp(c.choice, kCustomPaper) == 0) continue;
    box->addItem(Q(host::PPDText(ppd, *c.text ? c.text : c.choice)), QString::fromUtf8(c.choice));
  }
  return box;
}

void Select(QComboBox* box, const std::string& data) {
  int i = box->findData(Q(data));
  if (i >= 0) box->setCurrentIndex(i);
}

// The name of the queue's defaults lives in host/core; lupdate sees it here.
static_assert(std::string_view(QT_TRANSLATE_NOOP("qthost::GeneralPanel", "Default Settings")) == host::kDefaultSettings);

}  // namespace

GeneralPanel::GeneralPanel(host::DialogSession& session, const host::Queue& queue, const host::DialogStart& start,
                           QWidget* parent)
    : QWidget(parent), session_(session), queue_(queue), start_(start) {
  setObjectName("general");
  ppd_file_t* ppd = session_.callback().ppdFile();
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);

  presets_ = new QComboBox(this);
  presets_->setObjectName("presets");
  savePreset_ = new QPushButton(tr("Save As Preset…"), this);
  savePreset_->setObjectName("save-preset");
  saveDefault_ = new QPushButton(tr("Save as Default"), this);
  saveDefault_->setObjectName("save-default");
  saveDefault_->setEnabled(!queue_.name.empty());
  saveDefault_->setToolTip(tr("Keep these options as your defaults for this queue (lpoptions)"));
  auto* presetRow = new QHBoxLayout;
  presetRow->addWidget(presets_, 1);
  presetRow->addWidget(savePreset_);
  presetRow->addWidget(saveDefault_);
  grid->addWidget(Caption(tr("Pr&esets:"), presets_, this), 0, 0);
  grid->addLayout(presetRow, 0, 1, 1, 3);

  copies_ = new QSpinBox(this);
  copies_->setObjectName("copies");
  copies_->setRange(1, 9999);
  collate_ = new QCheckBox(tr("Co&llated"), this);
  collate_->setObjectName("collate");
  collate_->setAccessibleName(AccessibleName(collate_->text()));  // Qt's own keeps a "(&L)" as "(L)"
  auto* copiesRow = new QHBoxLayout;
  copiesRow->addWidget(copies_);
  copiesRow->addWidget(collate_);
  copiesRow->addStretch(1);
  grid->addWidget(Caption(tr("&Copies:"), copies_, this), 1, 0);
  grid->addLayout(copiesRow, 1, 1);
  pages_ = new QLineEdit(this);
  pages_->setObjectName("pages");
  pages_->setPlaceholderText(Q(host::GeneralWord("All")));
  pages_->setToolTip(tr("Pages such as 1-3,5,8-"));
  grid->addWidget(Caption(tr("Pa&ges:"), pages_, this), 1, 2);
  grid->addWidget(pages_, 1, 3);

  paper_ = ChoiceBox(ppd, ppd ? ppdFindOption(ppd, host::kPageSizeOption) : nullptr, this);
  paper_->setObjectName("paper");
  width_ = new QDoubleSpinBox(this);
  width_->setObjectName("custom-width");
  height_ = new QDoubleSpinBox(this);
  height_->setObjectName("custom-height");
  width_->setAccessibleName(tr("Custom width"));
  height_->setAccessibleName(tr("Custom height"));
  ppd_size_t low{}, high{};
  if (ppd && ppd->variable_sizes && ppdPageSizeLimits(ppd, &low, &high)) {
    paper_->addItem(tr("Custom Size"), QString(kCustomPaper));
    width_->setRange(low.width, high.width);
    height_->setRange(low.length, high.length);
  }
  for (auto* s : {width_, height_}) {
    s->setDecimals(1);
    s->setSuffix(tr(" pt"));
    s->setVisible(false);
  }
  auto* paperRow = new QHBoxLayout;
  paperRow->addWidget(paper_, 1);
  paperRow->addWidget(width_);
  paperRow->addWidget(height_);
  grid->addWidget(Caption(tr("Paper &Size:"), paper_, this), 2, 0);
  grid->addLayout(paperRow, 2, 1, 1, 3);

  orientation_ = new QComboBox(this);
  orientation_->setObjectName("orientation");
  // The summary's words, so that both say the same.
  for (auto [ipp, word] : {std::pair{"3", "Portrait"}, {"4", "Landscape"}, {"5", "Reverse Landscape"},
                           {"6", "Reverse Portrait"}})
    orientation_->addItem(Q(host::GeneralWord(word)), ipp);
  grid->addWidget(Caption(tr("&Orientation:"), orientation_, this), 3, 0);
  grid->addWidget(orientation_, 3, 1);
  ppd_option_t* duplex = ppd ? ppdFindOption(ppd, host::kDuplexOption) : nullptr;
  duplex_ = ChoiceBox(ppd, duplex, this);
  duplex_->setObjectName("duplex");
  if (duplex) {
    grid->addWidget(Caption(tr("&Two-Sided:"), duplex_, this), 3, 2);
    grid->addWidget(duplex_, 3, 3);
  } else {
    duplex_->setVisible(false);
  }

  conflicts_ = new QLabel(this);
  conflicts_->setObjectName("conflicts");
  conflicts_->setStyleSheet("color: #b00020");
  conflicts_->setWordWrap(true);
  grid->addWidget(conflicts_, 4, 0, 1, 4);

  // The "Printer Features" page.
  std::vector<std::string> claimed;
  for (const auto& p : session_.panels()) claimed.insert(claimed.end(), p.keys.begin(), p.keys.end());
  auto options = host::FeatureOptions(ppd, claimed);
  featureOptions_ = options;
  if (!options.empty()) {
    features_ = new QWidget;
    features_->setObjectName("printer-features");
    auto* form = new QFormLayout(features_);
    for (ppd_option_t* o : options) {
      QComboBox* box = ChoiceBox(ppd, o, features_);
      box->setObjectName(QString::fromUtf8(o->keyword));
      QString caption = Q(host::PPDText(ppd, *o->text ? o->text : o->keyword)).replace('&', "&&") + ":";
      form->addRow(Caption(caption, box, features_), box);
      std::string keyword = o->keyword;
      featureBoxes_.emplace_back(keyword, box);
      connect(box, &QComboBox::activated, this,
              [this, box, keyword](int) { set(keyword, box->currentData().toString().toStdString()); });
    }
  }

  connect(copies_, &QSpinBox::valueChanged, this, [this](int n) { set(host::kCopiesOption, std::to_string(n)); });
  connect(collate_, &QCheckBox::toggled, this, [this](bool on) { set(host::kCollateOption, on ? "true" : "false"); });
  connect(pages_, &QLineEdit::editingFinished, this, [this] {
    std::string why;
    if (!commit(&why)) emit message(Q(why));
  });
  connect(paper_, &QComboBox::activated, this, [this](int) { paperChosen(); });
  for (auto* s : {width_, height_}) connect(s, &QDoubleSpinBox::editingFinished, this, [this] { paperChosen(); });
  connect(orientation_, &QComboBox::activated, this,
          [this](int) { set(host::kOrientationOption, orientation_->currentData().toString().toStdString()); });
  connect(duplex_, &QComboBox::activated, this,
          [this](int) { set(host::kDuplexOption, duplex_->currentData().toString().toStdString()); });
  connect(presets_, &QComboBox::activated, this, [this](int) {
    std::string why;
    if (!choosePreset(presets_->currentText().toStdString(), &why)) emit message(Q(why));
  });
  connect(savePreset_, &QPushButton::clicked, this, [this] {
    bool ok = false;
    QString name = QInputDialog::getText(this, tr("Save Preset"), tr("Preset name:"), QLineEdit::Normal, {}, &ok);
    if (!ok) return;
    std::string why;
    emit message(savePreset(name.toStdString(), &why) ? tr("Preset \"%1\" saved.").arg(name) : Q(why));
  });
  connect(saveDefault_, &QPushButton::clicked, this, [this] {
    std::string why;
    emit message(saveAsDefault(&why) ? tr("Saved as your defaults for %1.").arg(Q(queue_.name)) : Q(why));
  });

  refreshPresets(host::kDefaultSettings);
  refresh();
}

QWidget* GeneralPanel::takeFeaturesPage() {
  QWidget* page = features_;
  features_ = nullptr;
  return page;
}

bool GeneralPanel::set(const std::string& name, const std::string& value) {
  if (refreshing_) return true;
  std::string why;
  bool ok = host::SetGeneralOption(session_.callback(), name, value, &why);
  if (!ok) {
    emit message(Q(why));
    refresh();
  } else {
    emit message({});
    updateConflicts();
  }
  return ok;
}

void GeneralPanel::paperChosen() {
  std::string choice = paper_->currentData().toString().toStdString();
  bool custom = choice == kCustomPaper;
  width_->setVisible(custom);
  height_->setVisible(custom);
  if (custom) {
    char value[64];
    std::snprintf(value, sizeof value, "Custom.%gx%g", width_->value(), height_->value());
    choice = value;
  }
  set(host::kPageSizeOption, choice);
}

bool GeneralPanel::commit(std::string* why) {
  std::string typed = pages_->text().trimmed().toStdString();
  std::string stored = host::GeneralOptionValue(session_.callback(), host::kPageRangesOption);
  if (typed == stored) return true;
  if (host::SetGeneralOption(session_.callback(), host::kPageRangesOption, typed, why)) return true;
  return false;
}

void GeneralPanel::refresh() {
  refreshing_ = true;
  auto& cb = session_.callback();
  auto value = [&](const char* name) { return host::GeneralOptionValue(cb, name); };
  {
    QSignalBlocker b1(copies_), b2(collate_), b3(width_), b4(height_);
    copies_->setValue(std::atoi(value(host::kCopiesOption).c_str()));
    collate_->setChecked(value(host::kCollateOption) != host::kUncollated);
    pages_->setText(Q(value(host::kPageRangesOption)));
    std::string paper = value(host::kPageSizeOption);
    bool custom = paper.rfind("Custom.", 0) == 0;
    Select(paper_, custom ? kCustomPaper : paper);
    if (custom) {
      double w = 0, h = 0;
      if (host::PaperSize(cb.ppdFile(), paper, &w, &h, nullptr)) {
        width_->setValue(w);
        height_->setValue(h);
      }
    }
    width_->setVisible(custom);
    height_->setVisible(custom);
    Select(orientation_, value(host::kOrientationOption));
    Select(duplex_, value(host::kDuplexOption));
    for (auto& [keyword, box] : featureBoxes_) Select(box, value(keyword.c_str()));
  }
  refreshing_ = false;
  updateConflicts();
}

host::PanelSummary GeneralPanel::summary() {
  return host::GeneralSummary(session_.callback(), featureOptions_);
}

void GeneralPanel::updateConflicts() {
  auto lines = host::Conflicts(session_.callback().ppdFile());
  QStringList text;
  for (const auto& l : lines) text << Q(l);
  conflicts_->setText(text.isEmpty() ? QString() : tr("Conflicting options: %1").arg(text.join("; ")));
}

void GeneralPanel::refreshPresets(const std::string& current) {
  QSignalBlocker block(presets_);
  presets_->clear();
  presets_->addItem(tr(host::kDefaultSettings), QString(host::kDefaultSettings));
  for (const auto& name : host::PresetNames()) presets_->addItem(Q(name), Q(name));
  Select(presets_, current);
}

bool GeneralPanel::choosePreset(const std::string& name, std::string* why) {
  cf::DictionaryRef preset;
  if (name != host::kDefaultSettings) {
    preset = host::LoadPreset(name, queue_.id, why);
    if (!preset) return false;
  }
  if (!host::ApplyPreset(session_, preset, start_.destination, why)) return false;
  refreshPresets(name);
  refresh();
  emit restored();
  return true;
}

bool GeneralPanel::savePreset(const std::string& name, std::string* why) {
  if (!commit(why) || !session_.save(why)) return false;
  if (!host::SavePreset(name, session_.settingsDictionary(), queue_.id, why)) return false;
  refreshPresets(name);
  return true;
}

bool GeneralPanel::saveAsDefault(std::string* why) {
  if (!commit(why) || !session_.save(why)) return false;
  auto options = host::OptionsToSave(session_.settingsDictionary(), session_.callback().ppdFile(), start_.start);
  return host::SaveAsDefault(queue_.name, options, why);
}

void AttachGeneral(PrintDialog& dialog, GeneralPanel* general) {
  dialog.setGeneral(general);
  if (QWidget* features = general->takeFeaturesPage()) dialog.addPage(QObject::tr(kPrinterFeaturesName), features);
  QObject::connect(general, &GeneralPanel::message, dialog.status(), &QLabel::setText);
  dialog.setSummaryExtra([general] { return std::vector<host::PanelSummary>{general->summary()}; });
}

}  // namespace qthost
