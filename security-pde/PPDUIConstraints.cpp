#include "PPDUIConstraints.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "QVPrintSettings.h"

namespace R2740_SECURITY_NS {

struct UIConstraintsValueCache {
  std::vector<std::pair<std::string, cf::StringRef>> pairs;  // newest first
};

namespace {

int32_t gTicketReads = 0;

bool IsPPDControlKind(uint32_t kind) {
  return kind == kKindCheckBox || kind == kKindPopUp || kind == kKindRadioGroup;
}

// An empty choice1 stands for every choice of its option that switches
// something on, as libcups reads such constraints.
bool ChoiceMatches(const char* constraintChoice, const std::string& value) {
  if (!constraintChoice[0]) return value != "None" && value != "False" && value != "Off" && !value.empty();
  return value == constraintChoice;
}

}  // namespace

int32_t UIConstraintsTicketReadCount() { return gTicketReads; }

pm::OSStatus UIConstraintsPPDInitializeArgument(ppd_file_t* ppd, UIConstraintsList* list) {
  QVDebug* trace = QVDebug::Start(list, "UIConstraintsPPDInitializeArgument");
  if (!ppd || !list) {
    _ErrorLog(trace, "Invalid Parameter");
    _LogEnd(trace);
    return pm::paramErr;
  }
  UIConstraintsPPDFinalize(list);
  if (ppd->num_consts > 0 && ppd->consts) {
    auto* copy = new (std::nothrow) ppd_const_t[static_cast<size_t>(ppd->num_consts)];
    if (copy) {
      memcpy(copy, ppd->consts, sizeof(ppd_const_t) * static_cast<size_t>(ppd->num_consts));
      list->ppdConstT = copy;
      list->iNumOfUIConstraints = ppd->num_consts;
    }
  }
  _DebugLog(trace, "iNumOfUIConstraints = %d", list->iNumOfUIConstraints);
  _LogEnd(trace);
  return pm::noErr;
}

pm::OSStatus UIConstraintsPPDFinalize(UIConstraintsList* list) {
  if (!list) return pm::paramErr;
  delete[] list->ppdConstT;
  list->ppdConstT = nullptr;
  list->iNumOfUIConstraints = 0;
  return pm::noErr;
}

ppd_const_t* CreateUIConstrainstPPDListForEveryUserPaneArgument(const PPDKeyTableRecord* keyTable, int32_t* count,
                                                               UIConstraintsList* list) {
  if (count) *count = 0;
  QVDebug* trace = QVDebug::Start(list, "CreateUIConstrainstPPDListForEveryUserPaneArgument");
  if (!list || !keyTable) {
    _ErrorLog(trace, "Invalid Parameter");
    _LogEnd(trace);
    return nullptr;
  }
  int keys = 0;
  while (keyTable[keys].keyword[0]) ++keys;

  int considered = list->iNumOfUIConstraints < kMaxConstraintsPerPane ? list->iNumOfUIConstraints
                                                                      : kMaxConstraintsPerPane;
  if (considered <= 0 || !list->ppdConstT) {
    _LogEnd(trace);
    return nullptr;
  }
  std::vector<bool> marked(static_cast<size_t>(considered), false);
  int found = 0;
  for (int k = 0; k < keys; ++k) {
    for (int c = 0; c < considered; ++c) {
      if (marked[static_cast<size_t>(c)]) continue;
      const ppd_const_t& con = list->ppdConstT[c];
      if (strcmp(con.option1, keyTable[k].keyword) == 0 || strcmp(con.option2, keyTable[k].keyword) == 0) {
        marked[static_cast<size_t>(c)] = true;
        ++found;
      }
    }
  }
  if (found == 0) {
    _LogEnd(trace);
    return nullptr;
  }
  auto* block = new (std::nothrow) ppd_const_t[static_cast<size_t>(found)];
  auto* node = new (std::nothrow) UIConstraintsListLocalCtrl;
  if (!block || !node) {
    delete[] block;
    delete node;
    _LogEnd(trace);
    return nullptr;
  }
  int n = 0;
  for (int c = 0; c < considered; ++c) {
    if (marked[static_cast<size_t>(c)]) block[n++] = list->ppdConstT[c];
  }
  node->self = node;
  node->block = block;
  if (!list->pTopOfLocalCtrl) {
    list->pTopOfLocalCtrl = node;
  } else {
    UIConstraintsListLocalCtrl* last = list->pTopOfLocalCtrl;
    while (last->next) last = last->next;
    last->next = node;
    node->prev = last;
  }
  ++list->iNumOfLocalAlloc;
  if (count) *count = found;
  _LogEnd(trace);
  return block;
}

void ReleaseUIConstrainstPPDListForEveryUserPaneArgument(UIConstraintsList* list) {
  if (!list) return;
  UIConstraintsListLocalCtrl* node = list->pTopOfLocalCtrl;
  for (int i = 0; node && i < list->iNumOfLocalAlloc; ++i) {
    UIConstraintsListLocalCtrl* next = node->next;
    delete[] node->block;
    delete node;
    node = next;
  }
  list->pTopOfLocalCtrl = nullptr;
  list->iNumOfLocalAlloc = 0;
}

pm::OSStatus UpdateUIConstraintsPPDArgument(const ppd_const_t* block, int32_t count, const PPDKeyTableRecord* keyTable,
                                            int32_t keyCount, PDEControlDataTblRef table, QVSession* session) {
  UIConstraintsValueCache cache;
  int32_t cacheCount = 0;
  UpdateUIConstraintsPPDImplementArgument(block, count, keyTable, keyCount, table, &cache, &cacheCount, session);
  int records = PDEControlDataTblGetCount(table);
  for (int i = 0; i < records; ++i) {
    PDEControlData* r = PDEControlDataGetByIndex(table, i);
    if (PDEControlDataKind(r) == kKindStaticText) continue;
    vDisableBody(r);
    UIConstraintsPPDDisableRelatedControl(table, r, keyTable, keyCount);
  }
  return pm::noErr;
}

void UpdateUIConstraintsPPDImplementArgument(const ppd_const_t* block, int32_t count,
                                             const PPDKeyTableRecord* /*keyTable*/, int32_t /*keyCount*/,
                                             PDEControlDataTblRef table, UIConstraintsValueCache* cache,
                                             int32_t* cacheCount, QVSession* session) {
  if (!block || count <= 0 || !cache) return;
  ppd_file_t* ppd = nullptr;
  if (GetPPDReference(session, &ppd) != pm::noErr || !ppd) return;
  QVDebug* trace = QVDebug::Start(session, "UpdateUIConstraintsPPDImplementArgument");
  for (int c = 0; c < count; ++c) {
    const ppd_const_t& con = block[c];
    PPDUIOption* option1 = CreatePPDUIOption(ppd, con.option1);
    if (!option1) continue;

    cf::StringRef value;
    for (const auto& pair : cache->pairs) {
      if (pair.first == con.option1) {
        value = pair.second;
        break;
      }
    }
    if (!value) {
      ++gTicketReads;
      PDECustomGetJobTicketPPDDict(session, cf::str(con.option1), &value);
      if (!value && strcmp(con.option1, "PageSize") == 0) {
        bool owned = false;
        value = GetPaperNameByStandardTicketArgument(&owned, session);
      }
      if (value) {
        cache->pairs.insert(cache->pairs.begin(), {con.option1, cf::str(value->utf8())});
        if (cacheCount) *cacheCount = static_cast<int32_t>(cache->pairs.size());
      }
    }
    if (!value) value = PPDUIOptionIndexToKey(option1, option1->curIndex);

    if (value && ChoiceMatches(con.choice1, value->utf8())) {
      _DebugLog(trace, "Constraints [%s]:[%s] vs [%s]:[%s]", con.option1, con.choice1, con.option2, con.choice2);
      int records = PDEControlDataTblGetCount(table);
      for (int i = 0; i < records; ++i) {
        PDEControlData* r = PDEControlDataGetByIndex(table, i);
        if (!r->key || r->kind == kKindStaticText || r->key->utf8() != con.option2) continue;
        UIConstraintsPPDDisableSingleControlOrItemArgument(r, ppd, &con, session);
        break;
      }
    }
    DeletePPDUIOption(option1);
  }
  _LogEnd(trace);
  FreePPDReference(ppd);
}

void UIConstraintsPPDDisableSingleControlOrItemArgument(PDEControlData* record, ppd_file_t* ppd,
                                                        const ppd_const_t* constraint, QVSession* session) {
  if (!record || !constraint) return;
  QVDebug* trace = QVDebug::Start(record, "UIConstraintsPPDDisableSingleControlOrItemArgument");
  uint32_t kind = record->kind;
  if (kind == kKindIcon) {
    _LogEnd(trace);
    return;
  }
  if (!IsPPDControlKind(kind)) {
    _DebugLog(trace, "Undifined ControlType");
    PDEControlDataSetEnabled(record, false);
    _LogEnd(trace);
    return;
  }
  if (!constraint->choice2[0]) {
    _DebugLog(trace, "No choice2 (CST ALL)");
    PDEControlDataSetEnabled(record, false);
    _LogEnd(trace);
    return;
  }
  PPDUIOption* option = CreatePPDUIOptionWithCFKey(ppd, record->key);
  if (!option) {
    if (kind == kKindCheckBox) PDEControlDataSetEnabled(record, false);
    _LogEnd(trace);
    return;
  }
  int index = -1;
  for (int i = 0; i < option->numChoices; ++i) {
    cf::StringRef key = PPDUIOptionIndexToKey(option, i);
    if (key && key->utf8() == constraint->choice2) {
      index = i;
      break;
    }
  }
  if (index >= 0) {
    PDEControlDataItemSetEnabled(record, index + 1, false);
    cf::StringRef current;
    PDECustomGetJobTicketPPDDict(session, record->key, &current);
    if (current && current->utf8() == constraint->choice2) {
      if (kind == kKindCheckBox) {
        // Move to the state that does not name the forbidden choice.
        bool on = index == 0;
        if (strcmp(constraint->choice2, "True") == 0) on = false;
        if (strcmp(constraint->choice2, "False") == 0) on = true;
        if (record->control) record->control->setIntValue(on ? 1 : 0);
      } else if (record->key) {
        int items = PDEControlDataItemGetCount(record);
        if (items < 1) {
          PDEControlDataSetIntValue(record, 1, false);
          PDEControlDataItemSetEnabled(record, 1, false);
        } else {
          int enabled = 0;
          for (int item = 1; item <= items; ++item) {
            if (PDEControlDataItemIsEnabled(record, item)) {
              enabled = item;
              break;
            }
          }
          if (enabled) {
            PDEControlDataSetIntValue(record, enabled, false);
          } else {
            PDEControlDataSetIntValue(record, 1, false);
            PDEControlDataSetEnabled(record, false);
          }
        }
      }
      PDECustomSetJobTicketWithArgument(record, session);
    }
  }
  DeletePPDUIOption(option);
  if (kind == kKindCheckBox) PDEControlDataSetEnabled(record, false);
  _LogEnd(trace);
}

void vDisableBody(PDEControlData* record) {
  int items = PDEControlDataItemGetCount(record);
  if (items < 1) return;
  int enabled = 0;
  for (int item = 1; item <= items; ++item) {
    if (PDEControlDataItemIsEnabled(record, item)) ++enabled;
  }
  if (enabled == 1) PDEControlDataSetEnabled(record, false);
}

void UIConstraintsPPDDisableRelatedControl(PDEControlDataTblRef table, PDEControlData* record,
                                           const PPDKeyTableRecord* keyTable, int32_t keyCount) {
  QVDebug* trace = QVDebug::Start(record, "UIConstraintsPPDDisableRelatedControl");
  if (!record) {
    _DebugLog(trace, "control is NULL.");
    _LogEnd(trace);
    return;
  }
  if (PDEControlDataIsEnabled(record)) {
    _DebugLog(trace, "Base control is enable.");
    _LogEnd(trace);
    return;
  }
  const PPDKeyTableRecord* key = nullptr;
  for (int i = 0; keyTable && i < keyCount && keyTable[i].keyword[0]; ++i) {
    if (keyTable[i].controlID == static_cast<int32_t>(record->identifier)) {
      key = &keyTable[i];
      break;
    }
  }
  if (!key || !key->related || !key->related->ids) {
    _DebugLog(trace, "no related controls.");
    _LogEnd(trace);
    return;
  }
  _DebugLog(trace, "related control table count=%d", key->related->count);
  for (int i = 0; i < key->related->count && i < kMaxRelatedControls; ++i) {
    int32_t id = key->related->ids[i];
    if (id == -1) break;
    _DebugLog(trace, "related control cid=%d", id);
    PDEControlDataSetEnabled(PDEControlDataGetByID(table, id), false);
  }
  _LogEnd(trace);
}

cf::StringRef GetPaperNameByStandardTicketArgument(bool* owned, QVSession* session) {
  if (owned) *owned = false;
  PPDUIOption* papers = PDECoreGetPPDPapers(session);
  if (!papers || papers->numChoices <= 0) return nullptr;
  cf::StringRef paperName;
  bool isCustom = false;
  pm::PMRect rect;
  pm::PMOrientation orientation = 0;
  if (GetDocumentPaperName(session, &paperName, &isCustom) != pm::noErr || !paperName) return nullptr;
  if (owned) *owned = true;
  if (GetDocumentPaperRect(session, &rect) != pm::noErr || GetDocumentOrientation(session, &orientation) != pm::noErr) {
    if (owned) *owned = false;
    return nullptr;
  }
  cf::StringRef result;
  if (!PPDPaperSizeFindAdjustedPMRect(papers, rect, orientation, &result)) {
    if (IsCustomPaperSizeWithinRange(session, rect, orientation)) {
      result = paperName;
    } else {
      result = PPDUIOptionGetDefaultKey(papers);
    }
  }
  if (result != paperName && owned) *owned = false;
  if (IsDocumentUseFitToPage(session)) {
    cf::StringRef destination;
    if (GetDestinationPaperName(session, &destination) == pm::noErr && destination) {
      cf::StringRef key = PPDUIOptionAliasToKey(papers, destination);
      result = key ? key : destination;
      if (owned) *owned = false;
    }
  }
  return result;
}

}  // namespace R2740_SECURITY_NS
