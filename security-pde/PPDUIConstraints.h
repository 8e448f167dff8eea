// The PPD's UI constraints applied to the panel's own controls: a copy of
// all constraints, per-pane blocks of the ones that touch the pane's
// keywords, and the evaluation that disables controls and items and moves
// forbidden values.
#pragma once

#include <cups/ppd.h>

#include <cstdint>

#include "PDEControlData.h"
#include "PDECore.h"
#include "SecurityBuild.h"

namespace R2740_SECURITY_NS {

struct UIConstraintsListLocalCtrl {
  UIConstraintsListLocalCtrl* self = nullptr;
  UIConstraintsListLocalCtrl* prev = nullptr;
  UIConstraintsListLocalCtrl* next = nullptr;
  ppd_const_t* block = nullptr;
};

// Controls greyed together with a disabled control.
struct PPDRelatedControls {
  int32_t count = 0;
  const int32_t* ids = nullptr;  // ends with -1
};

struct PPDKeyTableRecord {
  char keyword[PPD_MAX_NAME];  // empty ends the table
  int32_t controlID;
  const PPDRelatedControls* related;
};

// Constraints beyond this many are not considered for a pane.
inline constexpr int kMaxConstraintsPerPane = 8192;
// At most this many related controls are greyed per control.
inline constexpr int kMaxRelatedControls = 16;

pm::OSStatus UIConstraintsPPDInitializeArgument(ppd_file_t* ppd, UIConstraintsList* list);
pm::OSStatus UIConstraintsPPDFinalize(UIConstraintsList* list);
ppd_const_t* CreateUIConstrainstPPDListForEveryUserPaneArgument(const PPDKeyTableRecord* keyTable, int32_t* count,
                                                               UIConstraintsList* list);
void ReleaseUIConstrainstPPDListForEveryUserPaneArgument(UIConstraintsList* list);
pm::OSStatus UpdateUIConstraintsPPDArgument(const ppd_const_t* block, int32_t count, const PPDKeyTableRecord* keyTable,
                                            int32_t keyCount, PDEControlDataTblRef table, QVSession* session);

// Newest pair first.
struct UIConstraintsValueCache;
void UpdateUIConstraintsPPDImplementArgument(const ppd_const_t* block, int32_t count, const PPDKeyTableRecord* keyTable,
                                             int32_t keyCount, PDEControlDataTblRef table,
                                             UIConstraintsValueCache* cache, int32_t* cacheCount,
                                             QVSession* session);
void UIConstraintsPPDDisableSingleControlOrItemArgument(PDEControlData* record, ppd_file_t* ppd,
                                                        const ppd_const_t* constraint, QVSession* session);
void vDisableBody(PDEControlData* record);
void UIConstraintsPPDDisableRelatedControl(PDEControlDataTblRef table, PDEControlData* record,
                                           const PPDKeyTableRecord* keyTable, int32_t keyCount);
cf::StringRef GetPaperNameByStandardTicketArgument(bool* owned, QVSession* session);

// How many times the last evaluations read a value from the ticket; the
// cache keeps this at one per option1 and evaluation.
int32_t UIConstraintsTicketReadCount();

}  // namespace R2740_SECURITY_NS
