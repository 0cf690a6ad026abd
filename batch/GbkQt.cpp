#include "batch/GbkQt.h"

#include "engine/GbkCodec.h"

QString GbkToQString(std::string_view gbk) {
    return QString::fromUtf8(GbkToUtf8(gbk));
}

std::string QStringToGbk(const QString& text) {
    return Utf8ToGbk(text.toUtf8().toStdString());
}
