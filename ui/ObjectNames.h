#pragma once

// Every control of the windows carries the name the program's tests and
// style find it by.

#include <QObject>
#include <QString>

template <typename T> T* Named(T* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
}
