#pragma once

// The one edge where the program's GBK texts meet Qt's Unicode strings: what a
// widget shows, and what a user types.

#include <QString>

#include <string>
#include <string_view>

QString GbkToQString(std::string_view gbk);
std::string QStringToGbk(const QString& text);
