// Both builds of the colour plug-in, loaded from the build tree and driven
// in the print system's order on the sample PPDs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host.h"

namespace {

const char* const kAdvancedKeys[] = {
    "QVImageRGBSource",    "QVImageRenderIntent",      "QVImageGrayTreatment",    "QVImageDestinationProfile",
    "QVImageHalftone",     "QVImageEdgeEnhance",       "QVTextRGBSource",         "QVTextRenderIntent",
    "QVTextGrayTreatment", "QVTextDestinationProfile", "QVTextHalftone",          "QVTextEdgeEnhance",
    "QVGraphicsRGBSource", "QVGraphicsRenderIntent",   "QVGraphicsGrayTreatment", "QVGraphicsDestinationProfile",
    "QVGraphicsHalftone",  "QVGraphicsEdgeEnhance",    "QVSimSource",             "QVSimRenderIntent",
    "QVSimGrayTreatment"};
const char* const kColorKeys[] = {"QVQuickColor", "QVBrightness", "QVColorAsGray",
                                  "QVEconoMode",  "QVEdgeType",   "QVGlossyMode"};

std::vector<std::string> AllKeys() {
  std::vector<std::string> keys(std::begin(kAdvancedKeys), std::end(kAdvancedKeys));
  keys.insert(keys.end(), std::begin(kColorKeys), std::end(kColorKeys));
  return keys;
}

std::string Bundle(const std::string& model) {
  return std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_" + model + ".plugin";
}
std::string PPDPath(const std::string& model) { return std::string(R2740_SOURCE_DIR) + "/data/ppd/" + model + ".ppd"; }

// An empty install root (no helper, no profiles) and English strings.
class ColorPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/r2740-color-it-XXXXXX";
    root_ = mkdtemp(tmpl);
    setenv("R2740_ROOT", root_.c_str(), 1);
    setenv("R2740_LANG", "en", 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  host::PlugInRef Load(const std::string& model) {
    std::string error;
    host::PlugInRef p = host::LoadPlugIn(Bundle(model), &error);
    EXPECT_TRUE(p) << error;
    return p;
  }

  std::shared_ptr<host::HostCallback> Callback(const std::string& ppdModel, const std::string& queue = "R2740_Queue_1") {
    std::string error;
    auto ppd = host::PPDFile::open(PPDPath(ppdModel), &error);
    EXPECT_TRUE(ppd) << error;
    return std::make_shared<host::HostCallback>(
        host::ManualQueue(PPDPath(ppdModel), queue, "lpd://127.0.0.1/queue"), std::move(ppd));
  }

  std::unique_ptr<host::DialogSession> Open(const std::vector<host::PlugInRef>& plugins, const std::string& ppdModel,
                                            const cf::DictionaryRef& settings = nullptr) {
    auto session = std::make_unique<host::DialogSession>(Callback(ppdModel), plugins);
    session->loadSettings(settings);
    std::string error;
    EXPECT_TRUE(session->open(&error)) << error;
    return session;
  }

  std::string root_;
};

void Walk(const ui::ViewRef& v, std::vector<ui::ViewRef>& out, std::set<const ui::View*>& seen) {
  if (!v || !seen.insert(v.get()).second) return;
  out.push_back(v);
  for (const auto& s : v->subviews()) Walk(s, out, seen);
  if (auto* tab = dynamic_cast<ui::TabView*>(v.get()))
    for (int i = 0; i < tab->numberOfTabViewItems(); ++i) Walk(tab->tabViewItemAtIndex(i)->view(), out, seen);
}

// The view with the identifier, searched from the given roots.
ui::ViewRef Find(const std::vector<ui::ViewRef>& roots, const std::string& id) {
  std::vector<ui::ViewRef> views;
  std::set<const ui::View*> seen;
  for (const auto& r : roots) Walk(r, views, seen);
  for (const auto& v : views)
    if (v->identifier() == id) return v;
  return nullptr;
}

ui::ViewRef Control(pde::PDEPanel& panel, const std::string& id) { return Find(panel.allViews(), id); }
std::shared_ptr<ui::PopUpButton> Menu(pde::PDEPanel& panel, const std::string& id) {
  return std::dynamic_pointer_cast<ui::PopUpButton>(Control(panel, id));
}
std::shared_ptr<ui::Button> Button(pde::PDEPanel& panel, const std::string& id) {
  return std::dynamic_pointer_cast<ui::Button>(Control(panel, id));
}

// Every bound control's value: a pop-up's index, a checkbox's state.
std::vector<int> Values(pde::PDEPanel& panel) {
  std::vector<int> values;
  for (const auto& key : AllKeys()) {
    auto v = Control(panel, key);
    auto c = std::dynamic_pointer_cast<ui::Control>(v);
    values.push_back(c ? c->intValue() : -100);
  }
  return values;
}

std::string Str(const cf::Ref& v) {
  auto s = cf::As<cf::String>(v);
  return s ? s->utf8() : "<not a string>";
}

cf::DictionaryRef QueueDict(const cf::DictionaryRef& settings, const std::string& model,
                            const std::string& queue = "R2740_Queue_1") {
  auto m = settings ? settings->get<cf::Dictionary>(model) : nullptr;
  return m ? m->get<cf::Dictionary>(queue) : nullptr;
}

}  // namespace

TEST_F(ColorPanelTest, FactoryOffersOnePanelForThePrinterModuleTypeOnly) {
  for (const std::string model : {"R2740Mono", "R2740"}) {
    auto plugin = Load(model);
    ASSERT_TRUE(plugin);
    auto cb = Callback(model);
    pde::PDEFactory* factory = plugin->factory();
    EXPECT_FALSE(factory->PDEPanelsForType(cf::str(pde::kGeneralPanelType), cb).has_value());
    EXPECT_FALSE(factory->PDEPanelsForType(cf::str("bdb091f4-e57f-11d3-b5cc-0050e4603277"), cb).has_value());
    EXPECT_FALSE(factory->PDEPanelsForType(nullptr, cb).has_value());
    // A second initWithBundle keeps the first bundle.
    EXPECT_TRUE(factory->initWithBundle(nullptr));
    auto panels = factory->PDEPanelsForType(cf::str(pde::kPrinterModuleType), cb);
    ASSERT_TRUE(panels.has_value());
    ASSERT_EQ(panels->size(), 1u);
    pde::PDEPanel& panel = *panels->front();
    EXPECT_EQ(panel.panelName()->utf8(), "Color Options");
    EXPECT_EQ(panel.panelKind()->utf8(), "jp.orvessa.pde." + model + ".qvco");
    EXPECT_TRUE(panel.shouldHide());
    panel.terminate();
  }
}

TEST_F(ColorPanelTest, OptionKeysComeBeforeTheViewAndTheInterfaceLoadsOnce) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  auto cb = Callback("R2740");
  auto panels = plugin->factory()->PDEPanelsForType(cf::str(pde::kPrinterModuleType), cb);
  ASSERT_TRUE(panels && panels->size() == 1);
  pde::PDEPanel& panel = *panels->front();

  cf::ArrayRef keys = panel.supportedPPDOptionKeys();
  ASSERT_TRUE(keys);
  std::vector<std::string> got;
  for (const auto& k : *keys) got.push_back(Str(k));
  EXPECT_EQ(got, AllKeys());

  auto view = panel.panelView();
  ASSERT_TRUE(view);
  auto quick = Menu(panel, "QVQuickColor");
  ASSERT_TRUE(quick);
  EXPECT_EQ(quick->numberOfItems(), 4);
  EXPECT_EQ(quick->itemTitleAtIndex(0), "Automatic");
  EXPECT_EQ(panel.panelView(), view);
  EXPECT_EQ(panel.supportedPPDOptionKeys()->count(), 27u);
  EXPECT_EQ(Menu(panel, "QVQuickColor"), quick);
  EXPECT_EQ(quick->numberOfItems(), 4);
  panel.terminate();
}

TEST_F(ColorPanelTest, RestoreSetsDefaultsThenStoredValues) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  // Stored values for this queue; another queue's values must not leak in.
  auto queue = cf::Dictionary::create();
  queue->setValue("QVBrightness", cf::str("Lighter1"));
  queue->setValue("QVColorAsGray", cf::str("True"));
  queue->setValue("QVImageHalftone", cf::str("Detail"));
  queue->setValue("QVEdgeType", cf::num(2));  // wrong type: left at its default
  auto other = cf::Dictionary::create();
  other->setValue("QVQuickColor", cf::str("Custom"));
  auto model = cf::Dictionary::create();
  model->setValue("R2740_Queue_1", queue);
  model->setValue("R2740_Queue_9", other);
  auto settings = cf::Dictionary::create();
  settings->setValue("R2740", model);

  auto session = Open({plugin}, "R2740", settings);
  ASSERT_EQ(session->panels().size(), 1u);
  pde::PDEPanel& panel = *session->panels()[0].panel;
  EXPECT_EQ(Menu(panel, "QVQuickColor")->indexOfSelectedItem(), 0);
  EXPECT_EQ(Menu(panel, "QVBrightness")->indexOfSelectedItem(), 3);
  EXPECT_EQ(Button(panel, "QVColorAsGray")->state(), 1);
  EXPECT_EQ(Menu(panel, "QVImageHalftone")->indexOfSelectedItem(), 2);
  EXPECT_EQ(Menu(panel, "QVEdgeType")->indexOfSelectedItem(), 1);
  EXPECT_EQ(Menu(panel, "QVImageRenderIntent")->indexOfSelectedItem(), 0);
  // The rules ran: grayscale greys out the source menus; Quick Color is not
  // Custom, so the advanced button is off. The colour build never locks
  // grayscale.
  EXPECT_FALSE(Menu(panel, "QVImageRGBSource")->isEnabled());
  EXPECT_FALSE(Button(panel, "button_AdvanceColorOptions")->isEnabled());
  EXPECT_TRUE(Button(panel, "QVColorAsGray")->isEnabled());
}

TEST_F(ColorPanelTest, MonochromeBuildLocksGrayscaleOnceItIsOn) {
  auto plugin = Load("R2740Mono");
  ASSERT_TRUE(plugin);
  auto queue = cf::Dictionary::create();
  queue->setValue("QVColorAsGray", cf::str("True"));
  auto model = cf::Dictionary::create();
  model->setValue("R2740_Queue_1", queue);
  auto settings = cf::Dictionary::create();
  settings->setValue("R2740Mono", model);
  auto session = Open({plugin}, "R2740Mono", settings);
  pde::PDEPanel& panel = *session->panels()[0].panel;
  EXPECT_EQ(Button(panel, "QVColorAsGray")->state(), 1);
  EXPECT_FALSE(Button(panel, "QVColorAsGray")->isEnabled());

  // The monochrome PPD's default is grayscale on, so a fresh dialog is
  // locked as well; on a PPD whose default is off the box stays free until
  // the user turns it on.
  auto fresh = Open({plugin}, "R2740Mono");
  EXPECT_EQ(Button(*fresh->panels()[0].panel, "QVColorAsGray")->state(), 1);
  EXPECT_FALSE(Button(*fresh->panels()[0].panel, "QVColorAsGray")->isEnabled());
  auto off = Open({plugin}, "R2740");
  pde::PDEPanel& p2 = *off->panels()[0].panel;
  EXPECT_TRUE(Button(p2, "QVColorAsGray")->isEnabled());
  std::string error;
  ASSERT_TRUE(off->setControl("QVColorAsGray", "True", &error)) << error;
  EXPECT_FALSE(Button(p2, "QVColorAsGray")->isEnabled());
}

TEST_F(ColorPanelTest, SummaryListsColourItemsThenAdvancedItemsInOrder) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  auto session = Open({plugin}, "R2740");
  pde::PDEPanel& panel = *session->panels()[0].panel;

  auto check = [&](const std::string& label) {
    cf::DictionaryRef summary = panel.summaryInfo();
    ASSERT_TRUE(summary) << label;
    auto order = summary->get<cf::Array>("Summary Display Order");
    ASSERT_TRUE(order) << label;
    ASSERT_EQ(order->count(), 27u) << label;
    EXPECT_EQ(summary->count(), 28u) << label;
    const char* firstSix[] = {"Quick Color", "Brightness", "Color as Grayscale",
                              "Economy Print", "Edge Strength", "Glossy Mode"};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(Str(order->at(i)), firstSix[i]) << label;
    EXPECT_EQ(Str(order->at(6)), "Image RGB Source") << label;
    EXPECT_EQ(Str(order->at(26)), "CMYK Gray Treatment") << label;
    for (const auto& name : *order) EXPECT_TRUE(summary->contains(Str(name))) << label << Str(name);
  };
  // Quick Color "Automatic": the preset's advanced values (halftone item 1).
  check("preset");
  EXPECT_EQ(Str(panel.summaryInfo()->getValue("Quick Color")), "Automatic");
  EXPECT_EQ(Str(panel.summaryInfo()->getValue("Image Halftone")), "Smooth");

  // Quick Color "Custom": the advanced pane's own values.
  std::string error;
  ASSERT_TRUE(session->setControl("QVQuickColor", "Custom", &error)) << error;
  ASSERT_TRUE(session->setControl("QVImageHalftone", "HighLPI", &error)) << error;
  check("custom");
  EXPECT_EQ(Str(panel.summaryInfo()->getValue("Image Halftone")), "High Line Screen");
  EXPECT_EQ(Str(panel.summaryInfo()->getValue("Color as Grayscale")), "Off");
}

TEST_F(ColorPanelTest, SaveWritesModelQueueAndFlatCopyAndRestoreBringsThemBack) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  auto first = Open({plugin}, "R2740");
  pde::PDEPanel& panel = *first->panels()[0].panel;
  std::string error;
  for (auto [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"QVQuickColor", "Custom"}, {"QVBrightness", "Darker2"}, {"QVEconoMode", "True"},
           {"QVGlossyMode", "True"}, {"QVImageHalftone", "Auto"}, {"QVTextRenderIntent", "AbsColorimetric"},
           {"QVSimSource", "SWOP"}, {"QVSimGrayTreatment", "BlackOnly"}})
    ASSERT_TRUE(first->setControl(key, value, &error)) << error;
  ASSERT_TRUE(first->save(&error)) << error;

  cf::DictionaryRef settings = first->settingsDictionary();
  auto queue = QueueDict(settings, "R2740");
  ASSERT_TRUE(queue);
  // 27 keywords and the "%sCustom" flag ("False") of the 7 profile menus.
  EXPECT_EQ(queue->count(), 34u);
  EXPECT_EQ(Str(queue->getValue("QVImageRGBSourceCustom")), "False");
  for (const auto& key : AllKeys()) {
    EXPECT_TRUE(cf::IsType(queue->getValue(key), cf::kStringTypeID)) << key;
    EXPECT_EQ(Str(settings->getValue(key)), Str(queue->getValue(key))) << key;
  }
  // The fourth Quick Color choice (shown as "Custom") is stored by keyword.
  EXPECT_EQ(Str(queue->getValue("QVQuickColor")), "Manual");
  EXPECT_EQ(Str(Menu(panel, "QVQuickColor")->itemAtIndex(3)->representedObject()), "Manual");
  EXPECT_EQ(Str(queue->getValue("QVBrightness")), "Darker2");
  EXPECT_EQ(Str(queue->getValue("QVEconoMode")), "True");
  EXPECT_EQ(Str(queue->getValue("QVImageHalftone")), "Auto");
  EXPECT_EQ(Str(queue->getValue("QVTextRenderIntent")), "AbsColorimetric");
  EXPECT_EQ(Str(queue->getValue("QVColorAsGray")), "False");

  std::vector<int> saved = Values(panel);
  auto second = Open({plugin}, "R2740", settings);
  EXPECT_EQ(Values(*second->panels()[0].panel), saved);
  // The advanced button follows the restored Quick Color.
  EXPECT_TRUE(Button(*second->panels()[0].panel, "button_AdvanceColorOptions")->isEnabled());
}

TEST_F(ColorPanelTest, PrintAppliesTheQuickColorPresetToTheAdvancedValues) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  auto session = Open({plugin}, "R2740");
  std::string error;
  ASSERT_TRUE(session->setControl("QVImageHalftone", "HighLPI", &error)) << error;
  ASSERT_TRUE(session->setControl("QVQuickColor", "Vivid", &error)) << error;
  ASSERT_TRUE(session->print(&error)) << error;
  auto settings = session->settingsDictionary();
  auto queue = QueueDict(settings, "R2740");
  ASSERT_TRUE(queue);
  // Quick Color 1: halftone item 1 in every group, intents item 0.
  EXPECT_EQ(Str(queue->getValue("QVImageHalftone")), "Smooth");
  EXPECT_EQ(Str(settings->getValue("QVImageHalftone")), "Smooth");
  EXPECT_EQ(Str(queue->getValue("QVImageRenderIntent")), "Perceptual");
  EXPECT_EQ(Str(queue->getValue("QVQuickColor")), "Vivid");
}

// The PPD's Quick Color constraints, as libcups evaluates them, allow
// exactly the advanced values the panel prints under each preset, with
// economy mode off and on: the panel is the oracle of what a preset locks.
TEST_F(ColorPanelTest, PPDConstraintsAllowExactlyWhatThePresetsPrint) {
  for (const std::string model : {"R2740", "R2740Mono"}) {
    auto plugin = Load(model);
    ASSERT_TRUE(plugin);
    std::unique_ptr<ppd_file_t, decltype(&ppdClose)> file(ppdOpenFile(PPDPath(model).c_str()), ppdClose);
    ppd_file_t* ppd = file.get();
    ASSERT_TRUE(ppd);
    for (const char* preset : {"Auto", "Vivid", "Photo"}) {
      for (const char* eco : {"False", "True"}) {
        SCOPED_TRACE(model + " " + preset + " economy " + eco);
        auto session = Open({plugin}, model);
        std::string error;
        ASSERT_TRUE(session->setControl("QVQuickColor", "Custom", &error)) << error;
        ASSERT_TRUE(session->setControl("QVImageHalftone", "HighLPI", &error)) << error;  // not any preset's
        ASSERT_TRUE(session->setControl("QVEconoMode", eco, &error)) << error;
        ASSERT_TRUE(session->setControl("QVQuickColor", preset, &error)) << error;
        ASSERT_TRUE(session->print(&error)) << error;
        auto queue = QueueDict(session->settingsDictionary(), model);
        ASSERT_TRUE(queue);
        ppdMarkDefaults(ppd);
        ppdMarkOption(ppd, "QVQuickColor", preset);
        ppdMarkOption(ppd, "QVEconoMode", eco);
        for (const char* key : kAdvancedKeys) ppdMarkOption(ppd, key, Str(queue->getValue(key)).c_str());
        EXPECT_EQ(ppdConflicts(ppd), 0);
        for (const char* key : kAdvancedKeys) {
          ppd_option_t* option = ppdFindOption(ppd, key);
          ASSERT_TRUE(option) << key;
          const std::string printed = Str(queue->getValue(key));
          ASSERT_TRUE(ppdFindChoice(option, printed.c_str())) << key << " " << printed;
          for (int c = 0; c < option->num_choices; ++c) {
            if (printed == option->choices[c].choice) continue;
            ppdMarkOption(ppd, key, option->choices[c].choice);
            EXPECT_GT(ppdConflicts(ppd), 0) << key << " " << option->choices[c].choice;
          }
          ppdMarkOption(ppd, key, printed.c_str());
        }
        // Custom frees them all.
        ppdMarkOption(ppd, "QVQuickColor", "Manual");
        ppdMarkOption(ppd, "QVImageHalftone", "HighLPI");
        EXPECT_EQ(ppdConflicts(ppd), 0);
      }
    }
  }
}

TEST_F(ColorPanelTest, PanesSwitchInPlaceAndHiddenControlsStayReachable) {
  auto plugin = Load("R2740");
  ASSERT_TRUE(plugin);
  auto session = Open({plugin}, "R2740");
  pde::PDEPanel& panel = *session->panels()[0].panel;
  ui::ViewRef main = panel.panelView();
  auto shownFromMain = [&](const std::string& id) { return Find({main}, id) != nullptr; };
  EXPECT_TRUE(shownFromMain("QVQuickColor"));
  EXPECT_FALSE(shownFromMain("QVImageHalftone"));

  std::string error;
  // A control of the hidden pane is still found and set.
  ASSERT_TRUE(session->setControl("QVImageHalftone", "Detail", &error)) << error;
  auto advance = Button(panel, "button_AdvanceColorOptions");
  ASSERT_TRUE(advance);
  EXPECT_FALSE(advance->isEnabled());
  ASSERT_TRUE(session->setControl("QVQuickColor", "Custom", &error)) << error;
  EXPECT_TRUE(advance->isEnabled());
  advance->userClick();
  EXPECT_TRUE(shownFromMain("QVImageHalftone"));
  EXPECT_FALSE(shownFromMain("QVQuickColor"));
  EXPECT_EQ(Menu(panel, "QVImageHalftone")->indexOfSelectedItem(), 2);

  // shouldHide is YES on the advanced pane; the next willShow is back on
  // the colour pane, twice in a row as well.
  EXPECT_TRUE(panel.shouldHide());
  panel.willShow();
  EXPECT_TRUE(shownFromMain("QVQuickColor"));
  EXPECT_FALSE(shownFromMain("QVImageHalftone"));
  panel.willShow();
  EXPECT_TRUE(shownFromMain("QVQuickColor"));

  advance->userClick();
  auto hide = Button(panel, "button_HideAdvancedOptions");
  ASSERT_TRUE(hide);
  hide->userClick();
  EXPECT_TRUE(shownFromMain("QVQuickColor"));
}

TEST_F(ColorPanelTest, BothBuildsLiveInOneProcessWithTheirOwnModelKeys) {
  auto mono = Load("R2740Mono");
  auto color = Load("R2740");
  ASSERT_TRUE(mono && color);
  auto session = Open({mono, color}, "R2740");
  ASSERT_EQ(session->panels().size(), 2u);
  EXPECT_EQ(session->panels()[0].kind, "jp.orvessa.pde.R2740Mono.qvco");
  EXPECT_EQ(session->panels()[1].kind, "jp.orvessa.pde.R2740.qvco");
  EXPECT_NE(session->panels()[0].view, session->panels()[1].view);

  // Grayscale on in the mono panel locks it there only.
  pde::PDEPanel& monoPanel = *session->panels()[0].panel;
  pde::PDEPanel& colorPanel = *session->panels()[1].panel;
  Button(monoPanel, "QVColorAsGray")->userClick();
  EXPECT_FALSE(Button(monoPanel, "QVColorAsGray")->isEnabled());
  EXPECT_TRUE(Button(colorPanel, "QVColorAsGray")->isEnabled());

  std::string error;
  ASSERT_TRUE(session->save(&error)) << error;
  auto settings = session->settingsDictionary();
  auto monoQueue = QueueDict(settings, "R2740Mono");
  auto colorQueue = QueueDict(settings, "R2740");
  ASSERT_TRUE(monoQueue && colorQueue);
  EXPECT_EQ(Str(monoQueue->getValue("QVColorAsGray")), "True");
  EXPECT_EQ(Str(colorQueue->getValue("QVColorAsGray")), "False");
}
