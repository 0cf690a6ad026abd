#pragma once

// The proxies field of the settings page, as the batch and the WHOIS
// windows take it: the field's lines read into one rotation, kept as long as
// the text stays the same so what it learnt of failing proxies holds from
// one batch to the next; and the field's text kept in config.ini. Qt Core
// only.

#include "engine/ProxyRotation.h"

#include <QString>

#include <memory>
#include <string>

class TProxySetting {
public:
    // The rotation over the proxies of text (GBK, one per line; none: a
    // rotation of none, so every server is asked straight); or null with
    // message (GBK) naming every bad line, the lines masked.
    std::shared_ptr<TProxyRotation> RotationFor(const std::string& text, std::string& message);

private:
    std::string FText;
    std::shared_ptr<TProxyRotation> FRotation;
};

// The field's text as iniFile keeps it ("" when it keeps none).
QString LoadProxySetting(const QString& iniFile);
// Keeps text in iniFile; a file that holds a password is made readable by its
// owner only. False when the file cannot be written.
bool SaveProxySetting(const QString& iniFile, const QString& text);
