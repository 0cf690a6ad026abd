#pragma once

// The settings a batch runs with, taken from and put back into the settings
// page's fields by name: kept in config.ini from one start to the next, and
// in the journal so that a batch taken up again runs as it started. A field
// is one row of the table below; a value that does not fit its field (a
// journal or an ini file edited by hand) leaves the field as it is.

#include "batch/BatchJournal.h"

#include <QString>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSettings;
class QWidget;

class TSettingFields {
public:
    void AddCheckBox(std::string name, QCheckBox* box);
    void AddLineEdit(std::string name, QLineEdit* edit);
    // The value is the choice's index.
    void AddComboBox(std::string name, QComboBox* box);

    // Every field's value, as its text in GBK ("1"/"0" for a check box).
    TBatchSettings Values() const;
    // Puts the values of the fields named there into them; other fields, and
    // names that are no field, stay as they are.
    void Apply(const TBatchSettings& values) const;

    // The fields in config.ini's [Query] group, beside the proxies.
    void Save(QSettings& ini) const;
    void Load(QSettings& ini) const;

private:
    struct TField {
        std::string Name;
        QCheckBox* CheckBox = nullptr;
        QLineEdit* LineEdit = nullptr;
        QComboBox* ComboBox = nullptr;
    };
    std::string ValueOf(const TField& field) const;
    void Put(const TField& field, const std::string& value) const;

    std::vector<TField> FFields;
};

// The window's size and place in config.ini; a place off every screen is not
// taken.
void SaveWindowPlace(QSettings& ini, const QWidget& window);
void RestoreWindowPlace(QSettings& ini, QWidget& window);
