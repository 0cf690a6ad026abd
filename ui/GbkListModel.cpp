#include "ui/GbkListModel.h"

#include "engine/GbkCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_set>

TGbkListModel::TGbkListModel(QObject* parent) : QAbstractListModel(parent) {}

int TGbkListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FLines.size());
}

QVariant TGbkListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Count())
        return {};
    return QString::fromUtf8(GbkToUtf8(FLines[static_cast<std::size_t>(index.row())]));
}

void TGbkListModel::Append(const std::string& text) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    FLines.push_back(text);
    endInsertRows();
}

int TGbkListModel::Count() const {
    return static_cast<int>(FLines.size());
}

void TGbkListModel::Select(int index) {
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
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    FLines.reserve(FLines.size() + added.size());
    for (const std::string* name : added)
        FLines.push_back(*name);
    endInsertRows();
}

const std::string& TGbkListModel::At(int index) const {
    return FLines.at(static_cast<std::size_t>(index));
}

void TGbkListModel::AppendLines(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
    FLines.insert(FLines.end(), lines.begin(), lines.end());
    endInsertRows();
}

void TGbkListModel::ReplaceLine(int index, const std::string& text) {
    if (index < 0 || index >= Count())
        return;
    FLines[static_cast<std::size_t>(index)] = text;
    const QModelIndex changed = this->index(index);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void TGbkListModel::SetLines(std::vector<std::string> lines) {
    beginResetModel();
    FLines = std::move(lines);
    endResetModel();
    if (FCurrentRow >= Count())
        SetCurrentRow(-1);
}

void TGbkListModel::Clear() {
    SetLines({});
}

void TGbkListModel::SetCurrentRow(int row) {
    if (row == FCurrentRow)
        return;
    FCurrentRow = row;
    emit CurrentRowChanged(row);
}

bool SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines,
                   std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (const std::string& line : lines) {
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
            std::fwrite("\r\n", 1, 2, file) != 2) {
            ok = false;
            break;
        }
    }
    if (!ok)
        error = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}
