#pragma once

// Opening the zone files a batch is to use. A zone seen for the first time is
// indexed, which for the whole zone of a large TLD takes a minute or more: it
// is done on a thread of its own while the window goes on painting, and a
// modal dialog (so that nothing starts twice meanwhile) says which file is
// being read, how much of it and for how long, and can cancel it.

#include "engine/zone/ZoneIndex.h"

#include <QStringList>

#include <chrono>
#include <optional>
#include <string>

class QWidget;

// The zones of files, in their order; nothing, with error (UTF-8, for
// people), when one of them cannot be used or the user cancelled. A file
// that takes longer than showAfter to open shows the dialog (0: every file
// does).
std::optional<TZoneIndexes>
OpenZonesShowingWork(const QStringList& files, QWidget* parent, std::string& error,
                     std::chrono::milliseconds showAfter = std::chrono::milliseconds(200));
