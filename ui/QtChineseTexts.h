#pragma once

// Qt's own texts (the file dialogs, the message boxes' buttons) in Simplified
// Chinese, as the rest of the interface is: Debian's qt6-translations-l10n
// ships them as qtbase_zh_CN.

class QCoreApplication;

// Installs Qt's Chinese texts into app, and the Chinese (China) locale as
// the default; false when the translation file is not there (Qt's English
// texts then stay).
bool InstallQtChineseTexts(QCoreApplication& app);
