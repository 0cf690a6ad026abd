#include "ui/RememberedSettings.h"

#include "batch/GbkQt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QWidget>

namespace {

constexpr const char* QueryGroup = "Query/";
constexpr const char* GeometryKey = "Window/Geometry";

QString IniKey(const std::string& name) {
    return QString::fromLatin1(QueryGroup) + QString::fromStdString(name);
}

} // namespace

void TSettingFields::AddCheckBox(std::string name, QCheckBox* box) {
    FFields.push_back({std::move(name), box, nullptr, nullptr});
}

void TSettingFields::AddLineEdit(std::string name, QLineEdit* edit) {
    FFields.push_back({std::move(name), nullptr, edit, nullptr});
}

void TSettingFields::AddComboBox(std::string name, QComboBox* box) {
    FFields.push_back({std::move(name), nullptr, nullptr, box});
}

std::string TSettingFields::ValueOf(const TField& field) const {
    if (field.CheckBox)
        return field.CheckBox->isChecked() ? "1" : "0";
    if (field.LineEdit)
        return QStringToGbk(field.LineEdit->text());
    return std::to_string(field.ComboBox->currentIndex());
}

void TSettingFields::Put(const TField& field, const std::string& value) const {
    if (field.CheckBox) {
        if (value == "1" || value == "0")
            field.CheckBox->setChecked(value == "1");
    } else if (field.LineEdit) {
        const QString text = GbkToQString(value);
        // What the field could not hold was not typed into it.
        if (field.LineEdit->maxLength() >= text.size())
            field.LineEdit->setText(text);
    } else {
        bool number = false;
        const int index = QString::fromStdString(value).toInt(&number);
        if (number && index >= 0 && index < field.ComboBox->count())
            field.ComboBox->setCurrentIndex(index);
    }
}

TBatchSettings TSettingFields::Values() const {
    TBatchSettings values;
    for (const TField& field : FFields)
        values[field.Name] = ValueOf(field);
    return values;
}

void TSettingFields::Apply(const TBatchSettings& values) const {
    for (const TField& field : FFields) {
        if (const auto value = values.find(field.Name); value != values.end())
            Put(field, value->second);
    }
}

void TSettingFields::Save(QSettings& ini) const {
    for (const TField& field : FFields)
        ini.setValue(IniKey(field.Name), GbkToQString(ValueOf(field)));
}

void TSettingFields::Load(QSettings& ini) const {
    for (const TField& field : FFields) {
        const QVariant value = ini.value(IniKey(field.Name));
        if (value.isValid())
            Put(field, QStringToGbk(value.toString()));
    }
}

void SaveWindowPlace(QSettings& ini, const QWidget& window) {
    ini.setValue(GeometryKey, window.saveGeometry());
}

void RestoreWindowPlace(QSettings& ini, QWidget& window) {
    // restoreGeometry moves a window that would stand off every screen back
    // onto one.
    const QByteArray geometry = ini.value(GeometryKey).toByteArray();
    if (!geometry.isEmpty())
        window.restoreGeometry(geometry);
}
