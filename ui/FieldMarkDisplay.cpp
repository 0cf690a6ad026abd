#include "ui/FieldMarkDisplay.h"

QString WithVisibleFieldMarks(QString text) {
    return text.replace(FieldMarkCharacter, ShownFieldMark);
}
