// The program speaks Japanese throughout, Qt's own dialogs and the desktop's file-type names included,
// whatever the language of the user's session.
#pragma once

class QCoreApplication;

namespace kdlw {

// Makes Japanese the default locale (dates, numbers and file-type names follow it) and installs Qt's
// Japanese translations (Debian's qt6-translations-l10n) into `app`. False when the translations are not
// installed: Qt's own dialogs then stay in English.
bool InstallJapanese(QCoreApplication& app);

}  // namespace kdlw
