#include "ui/ProxySetting.h"

#include <QFile>
#include <QSettings>

namespace {

constexpr const char* ProxiesKey = "Query/Proxies";
// "代理服务器列表有误："
constexpr const char* BadListText =
    "\xB4\xFA\xC0\xED\xB7\xFE\xCE\xF1\xC6\xF7\xC1\xD0\xB1\xED\xD3\xD0\xCE\xF3\xA3\xBA";
// A message box shows this many bad lines; the rest are counted.
constexpr std::size_t ListedBadLines = 10;

std::string BadLinesMessage(const std::vector<TProxyLineError>& errors) {
    std::string message = BadListText;
    for (std::size_t i = 0; i < errors.size() && i < ListedBadLines; ++i)
        message.append("\n").append(DescribeProxyLineError(errors[i]));
    if (errors.size() > ListedBadLines)
        message += "\n... " + std::to_string(errors.size() - ListedBadLines) + " more";
    return message;
}

} // namespace

std::shared_ptr<TProxyRotation> TProxySetting::RotationFor(const std::string& text,
                                                           std::string& message) {
    if (FRotation && text == FText)
        return FRotation;
    TProxyListReading reading = ReadProxyLines(text);
    if (!reading.Ok()) {
        message = reading.FileError.empty() ? BadLinesMessage(reading.Errors)
                                            : std::string(BadListText).append(reading.FileError);
        return nullptr;
    }
    FRotation = std::make_shared<TProxyRotation>(std::move(reading.Proxies));
    FText = text;
    return FRotation;
}

QString LoadProxySetting(const QString& iniFile) {
    return QSettings(iniFile, QSettings::IniFormat).value(ProxiesKey).toString();
}

bool SaveProxySetting(const QString& iniFile, const QString& text) {
    const bool holdsPassword = text.contains(QLatin1Char('@'));
    constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
    // Closed to others before the password is written, not after.
    if (holdsPassword) {
        QFile file(iniFile);
        if (file.open(QIODevice::Append))
            file.setPermissions(OwnerOnly);
    }
    {
        QSettings ini(iniFile, QSettings::IniFormat);
        ini.setValue(ProxiesKey, text);
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return false;
    }
    // Written anew, the file may have taken the default permissions again.
    if (holdsPassword)
        QFile::setPermissions(iniFile, OwnerOnly);
    return true;
}
