#pragma once

// The updater's own edge between the program's GBK texts and Qt's strings.

#include "engine/GbkCodec.h"

#include <QString>

#include <string>
#include <string_view>

inline QString GbkToQ(std::string_view gbk) {
    return QString::fromStdString(GbkToUtf8(gbk));
}
inline std::string QToGbk(const QString& text) {
    return Utf8ToGbk(text.toStdString());
}
