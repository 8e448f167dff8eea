// The panel's core context and session record: what the ticket, PPD and
// constraint routines need to reach the print system's objects.
#pragma once

#include <cups/ppd.h>

#include <cstdint>

#include "PPDUIOption.h"
#include "SecurityBuild.h"
#include "bundle/bundle.h"
#include "cf/cf.h"
#include "printing/pde.h"

namespace R2740_SECURITY_NS {

struct UIConstraintsListLocalCtrl;

// All constraints of the PPD and the per-pane lists made from them.
struct UIConstraintsList {
  int32_t iNumOfUIConstraints = 0;
  ppd_const_t* ppdConstT = nullptr;
  int32_t iNumOfLocalAlloc = 0;
  UIConstraintsListLocalCtrl* pTopOfLocalCtrl = nullptr;
};

struct CoreContext {
  cf::StringRef pluginName;
  cf::StringRef title;
  cf::StringRef ppdProductName;  // model key, key of the model dictionary
  cf::StringRef printQueueName;  // current printer's identifier
  PPDUIOption ppdPapers;         // the PPD's "PageSize"
  UIConstraintsList CstList;
};

struct QVSession {
  pm::PMPrintSession session = nullptr;  // fetched on first use
  pde::PDEPluginCallback* object = nullptr;
  CoreContext* Context = nullptr;
  bndl::BundleRef Bundle;
};

pm::PMPrintSession QVGetPMPrintSession(QVSession* session);
CoreContext* QVPDECoreGetContextArgument(QVSession* session);
CoreContext* PDECoreGetContextArgument(QVSession* session);
cf::StringRef PDECoreGetPPDProductNameArgument(QVSession* session);
cf::StringRef PDECoreGetPluginNameArgument(QVSession* session);
cf::StringRef PDECoreGetPrintQueueNameArgument(QVSession* session);
PPDUIOption* PDECoreGetPPDPapers(QVSession* session);
// -1 for a null session or when the callback has none, else 0.
pm::OSStatus QVGetPrintSettings(QVSession* session, pm::PMPrintSettings* settings);
pm::OSStatus QVGetPageFormat(QVSession* session, pm::PMPageFormat* format);
cf::StringRef QVCopyLocalizedStringFromTableInBundle(QVSession* session, const char* key, const char* table);

// Fills the core context: model key, current printer, "PageSize".
int PDECoreOnInitialize(QVSession* session);

}  // namespace R2740_SECURITY_NS
