// The dialog's own texts in the user's language: Qt translators for the
// first language of bndl::PreferredLanguages() we have texts for (the same
// order the bundles follow), plus Qt's own texts (standard buttons, file
// dialog) in that language.
#pragma once

#include <QString>

namespace qthost {

// "ja", or "en" (the source texts) when no preferred language has texts.
QString UILanguage();
// Installs the translators for UILanguage() into the running application;
// installing again first removes the ones installed before.
void InstallTranslations();

}  // namespace qthost
