#include "ui/QtChineseTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtChineseTexts(QCoreApplication& app) {
    // Dates and sizes in the file dialogs as a Chinese reader writes them.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // Parented to the application, so it lives as long as the texts it gives.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
