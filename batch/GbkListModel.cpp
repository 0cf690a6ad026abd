#include "batch/GbkListModel.h"

#include "engine/GbkCodec.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string_view>
#include <unordered_set>

TGbkListModel::TGbkListModel(QObject* parent) : QAbstractListModel(parent) {
    FShowTimer.setSingleShot(true);
    connect(&FShowTimer, &QTimer::timeout, this, [this] { ShowPending(); });
}

int TGbkListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FShown);
}

QVariant TGbkListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return QString::fromUtf8(GbkToUtf8(FLines[static_cast<std::size_t>(index.row())]));
}

void TGbkListModel::SetShowDelay(std::chrono::milliseconds delay) {
    ShowPending();
    FShowDelay = delay;
}

void TGbkListModel::ShowPending() {
    FShowTimer.stop();
    if (FChangedFirst <= FChangedLast) {
        const QModelIndex first = index(FChangedFirst);
        const QModelIndex last = index(FChangedLast);
        FChangedFirst = std::numeric_limits<int>::max();
        FChangedLast = -1;
        emit dataChanged(first, last, {Qt::DisplayRole});
    }
    if (FShown >= FLines.size())
        return;
    beginInsertRows(QModelIndex(), static_cast<int>(FShown), Count() - 1);
    FShown = FLines.size();
    endInsertRows();
    if (FSelectionWaits) {
        FSelectionWaits = false;
        emit CurrentRowChanged(FCurrentRow);
    }
}

// Lines appended within the delay reach the views as one insertion.
void TGbkListModel::Appended() {
    if (FShowDelay.count() == 0)
        ShowPending();
    else if (!FShowTimer.isActive())
        FShowTimer.start(FShowDelay);
}

void TGbkListModel::Append(const std::string& text) {
    FLines.push_back(text);
    Appended();
}

int TGbkListModel::Count() const {
    return static_cast<int>(FLines.size());
}

void TGbkListModel::Select(int index) {
    // A view can select only a row it has been shown: the selection of a
    // line still waiting reaches it with the line's group.
    if (index >= rowCount() && index < Count()) {
        FCurrentRow = index;
        FSelectionWaits = true;
        return;
    }
    SetCurrentRow(index >= 0 && index < Count() ? index : -1);
}

std::vector<std::string> TGbkListModel::Items() const {
    return FLines;
}

void TGbkListModel::AppendMissing(const std::vector<std::string>& names) {
    // Views into FLines and names stay valid: neither changes until the
    // collected names are appended below.
    std::unordered_set<std::string_view> known(FLines.begin(), FLines.end());
    known.reserve(FLines.size() + names.size());
    std::vector<const std::string*> added;
    for (const std::string& name : names) {
        if (known.insert(name).second)
            added.push_back(&name);
    }
    if (added.empty())
        return;
    FLines.reserve(FLines.size() + added.size());
    for (const std::string* name : added)
        FLines.push_back(*name);
    Appended();
}

const std::string& TGbkListModel::At(int index) const {
    return FLines.at(static_cast<std::size_t>(index));
}

void TGbkListModel::AppendLines(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    FLines.insert(FLines.end(), lines.begin(), lines.end());
    Appended();
}

void TGbkListModel::ReplaceLine(int index, const std::string& text) {
    if (index < 0 || index >= Count())
        return;
    FLines[static_cast<std::size_t>(index)] = text;
    if (index >= rowCount())
        return; // shown with its new text when its turn comes
    if (FShowDelay.count() != 0) {
        // Told with the next group, like the lines appended.
        FChangedFirst = std::min(FChangedFirst, index);
        FChangedLast = std::max(FChangedLast, index);
        if (!FShowTimer.isActive())
            FShowTimer.start(FShowDelay);
        return;
    }
    const QModelIndex changed = this->index(index);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void TGbkListModel::SetLines(std::vector<std::string> lines) {
    FShowTimer.stop();
    FSelectionWaits = false;
    FChangedFirst = std::numeric_limits<int>::max();
    FChangedLast = -1;
    beginResetModel();
    FLines = std::move(lines);
    FShown = FLines.size();
    endResetModel();
    if (FCurrentRow >= Count())
        SetCurrentRow(-1);
}

void TGbkListModel::Clear() {
    SetLines({});
}

void TGbkListModel::SetCurrentRow(int row) {
    if (row == FCurrentRow && !FSelectionWaits)
        return;
    FSelectionWaits = false;
    FCurrentRow = row;
    emit CurrentRowChanged(row);
}

namespace {

// Lines are written in blocks of about this size: few system calls, and the
// error of each one seen at once.
constexpr std::size_t SaveBlockBytes = 64 * 1024;

// Writes all of data. A short write (the disk filled up partway) is followed
// by another for the rest, whose failure tells the reason.
bool WriteAll(QFileDevice& file, const std::string& data) {
    qint64 done = 0;
    const auto size = static_cast<qint64>(data.size());
    while (done < size) {
        const qint64 written = file.write(data.data() + done, size - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Writes the lines, each followed by CR LF, to an open file.
bool WriteLinesCrLf(QFileDevice& file, const std::vector<std::string>& lines) {
    std::string block;
    block.reserve(SaveBlockBytes + 2);
    for (const std::string& line : lines) {
        if (block.size() + line.size() + 2 > SaveBlockBytes && !block.empty()) {
            if (!WriteAll(file, block))
                return false;
            block.clear();
        }
        block += line;
        block += "\r\n";
    }
    return WriteAll(file, block);
}

std::string ReasonOf(const QFileDevice& file) {
    return file.errorString().toLocal8Bit().toStdString();
}

// A device or a pipe that exists already (/dev/stdout, a FIFO) takes the bytes
// as they come: it holds no old content to keep, and renaming a file over it
// would replace the device itself.
bool IsExistingSpecialFile(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

bool WriteSpecialFile(const QString& name, const std::vector<std::string>& lines,
                      std::string& error) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !WriteLinesCrLf(file, lines)) {
        error = ReasonOf(file);
        return false;
    }
    return true;
}

} // namespace

bool SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines,
                   std::string& error) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (IsExistingSpecialFile(path))
        return WriteSpecialFile(name, lines, error);
    // The lines go to a new file beside the target, which is flushed to disk
    // and then renamed over it; any failure on the way leaves the old file as
    // it was and removes the new one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !WriteLinesCrLf(file, lines) ||
        !file.commit()) {
        error = ReasonOf(file);
        return false;
    }
    return true;
}
