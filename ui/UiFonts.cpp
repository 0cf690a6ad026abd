#include "ui/UiFonts.h"

#include <QStringList>

namespace {

QFont FontWithFallbacks(const QStringList& families, int pointSize) {
    QFont font;
    font.setFamilies(families);
    font.setPointSize(pointSize);
    return font;
}

} // namespace

QFont TahomaFont(int pointSize) {
    return FontWithFallbacks({"Tahoma", "WenQuanYi Micro Hei", "AR PL UKai CN"}, pointSize);
}

QFont KaiFont(int pointSize) {
    return FontWithFallbacks({"KaiTi", "AR PL UKai CN", "WenQuanYi Micro Hei"}, pointSize);
}
