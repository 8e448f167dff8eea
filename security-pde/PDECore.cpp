#include "PDECore.h"

#include "system/system.h"

namespace R2740_SECURITY_NS {

pm::PMPrintSession QVGetPMPrintSession(QVSession* session) {
  if (!session) return nullptr;
  if (!session->session && session->object) session->session = session->object->printSession();
  return session->session;
}

CoreContext* QVPDECoreGetContextArgument(QVSession* session) { return session ? session->Context : nullptr; }
CoreContext* PDECoreGetContextArgument(QVSession* session) { return QVPDECoreGetContextArgument(session); }

cf::StringRef PDECoreGetPPDProductNameArgument(QVSession* session) {
  CoreContext* c = PDECoreGetContextArgument(session);
  return c ? c->ppdProductName : nullptr;
}

cf::StringRef PDECoreGetPluginNameArgument(QVSession* session) {
  CoreContext* c = PDECoreGetContextArgument(session);
  return c ? c->pluginName : nullptr;
}

cf::StringRef PDECoreGetPrintQueueNameArgument(QVSession* session) {
  CoreContext* c = PDECoreGetContextArgument(session);
  return c ? c->printQueueName : nullptr;
}

PPDUIOption* PDECoreGetPPDPapers(QVSession* session) {
  CoreContext* c = PDECoreGetContextArgument(session);
  return c ? &c->ppdPapers : nullptr;
}

pm::OSStatus QVGetPrintSettings(QVSession* session, pm::PMPrintSettings* settings) {
  if (settings) *settings = nullptr;
  if (!session || !settings || !session->object) return -1;
  *settings = session->object->printSettings();
  return *settings ? pm::noErr : -1;
}

pm::OSStatus QVGetPageFormat(QVSession* session, pm::PMPageFormat* format) {
  if (format) *format = nullptr;
  if (!session || !format || !session->object) return -1;
  *format = session->object->pageFormat();
  return *format ? pm::noErr : -1;
}

cf::StringRef QVCopyLocalizedStringFromTableInBundle(QVSession* session, const char* key, const char* table) {
  if (!session || !session->Bundle || !key) return nullptr;
  return session->Bundle->localizedCFString(key, table ? table : "");
}

int PDECoreOnInitialize(QVSession* session) {
  QVDebug* trace = QVDebug::Start(session, "PDECoreOnInitialize");
  CoreContext* context = PDECoreGetContextArgument(session);
  if (context) {
    context->ppdProductName = cf::str(kSecurityModelKey);
    pm::PMPrinter printer = nullptr;
    if (pm::PMSessionGetCurrentPrinter(QVGetPMPrintSession(session), &printer) == pm::noErr && printer) {
      context->printQueueName = pm::PMPrinterGetID(printer);
      _DebugLog(trace, "thisPtr->printQueueName:%s",
                context->printQueueName ? context->printQueueName->utf8().c_str() : "");
    }
    ppd_file_t* ppd = nullptr;
    if (GetPPDReference(session, &ppd) == pm::noErr && ppd) {
      SetupPPDUIOption(&context->ppdPapers, ppd, "PageSize");
      FreePPDReference(ppd);
    }
  }
  _LogEnd(trace);
  return 0;
}

}  // namespace R2740_SECURITY_NS
