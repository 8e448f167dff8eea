#include "i18n.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

#include "bundle/bundle.h"

namespace qthost {

namespace {

QString QmPath(const QString& lang) { return ":/i18n/r2740_" + lang + ".qm"; }

}  // namespace

QString UILanguage() {
  for (const std::string& lang : bndl::PreferredLanguages()) {
    QString l = QString::fromStdString(lang);
    if (QFile::exists(QmPath(l))) return l;
  }
  return "en";
}

void InstallTranslations() {
  static std::unique_ptr<QTranslator> own, qt;
  for (auto* t : {own.get(), qt.get()})
    if (t) QCoreApplication::removeTranslator(t);
  own = std::make_unique<QTranslator>();
  qt = std::make_unique<QTranslator>();
  QString lang = UILanguage();
  if (own->load(QmPath(lang))) QCoreApplication::installTranslator(own.get());
  if (qt->load("qtbase_" + lang, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt.get());
}

}  // namespace qthost
