#pragma once

#include <QFont>
#include <QString>

// The faces the windows name, each followed by Debian faces with CJK coverage
// so that every Chinese text renders even where the named face is missing.
QFont TahomaFont(int pointSize);
QFont KaiFont(int pointSize);
