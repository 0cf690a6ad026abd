#pragma once

// Pictures of windows for a person to look at: when TAVIREL_SCREENSHOT_DIR is
// set, a test saves what it drives there as PNG files; unset, nothing is
// saved. Popups (menus, message boxes) are their own windows: they are drawn
// over the window they belong to at the place they stand.

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <initializer_list>

namespace screenshots {

inline QString Folder() {
    return qEnvironmentVariable("TAVIREL_SCREENSHOT_DIR");
}

inline bool Wanted() {
    return !Folder().isEmpty();
}

// Saves window, with popups drawn over it, as name.png; false when not wanted
// or not saved.
inline bool Save(QWidget& window, const char* name, std::initializer_list<QWidget*> popups = {}) {
    if (!Wanted())
        return false;
    QPixmap picture = window.grab();
    {
        QPainter painter(&picture);
        for (QWidget* popup : popups) {
            if (popup && popup->isVisible())
                painter.drawPixmap(popup->mapToGlobal(QPoint()) - window.mapToGlobal(QPoint()),
                                   popup->grab());
        }
    }
    QDir().mkpath(Folder());
    return picture.save(Folder() + QLatin1Char('/') + QLatin1String(name) + ".png");
}

} // namespace screenshots
