#pragma once

// The single-domain WHOIS window: the user types one domain and gets its full
// report (heading, dates, address, e-mail and the whole replies). Each window
// runs at most one query at a time; any number of windows may be open.

#include "engine/ServerChoice.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TJob;
class TRegistryData;
class TProxyRotation;

class TForm2 : public QWidget {
    Q_OBJECT

public:
    // A top-level window even with a parent: the parent only owns it.
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    // The controls, in tab order; each carries its name as objectName.
    QLineEdit* txtDomain;
    QPushButton* btnQueryWhois;
    QPlainTextEdit* txtWhoisInfo;
    QCheckBox* cIPAddress;

    // The name service the window's queries use for the address; empty means
    // the system's. Tests put their own in place so no name leaves the machine.
    std::function<std::string(std::string_view)> ResolveHost;
    // The registry data the window's queries are routed and read with; null:
    // the program's own.
    std::shared_ptr<const TRegistryData> RegistryData;
    // The proxies each query asks through (empty: straight); null: the query
    // must not start (the giver has said why). Unset: straight.
    std::function<std::shared_ptr<TProxyRotation>()> Proxies;
    // The protocols the window's queries may use (the settings page's 查询方式).
    TProtocolPreference ProtocolPreference = TProtocolPreference::Auto;

    // Starts a query of the domain field's text unless it is empty.
    void btnQueryWhoisClick();

protected:
    // Enter outside the report presses the default button.
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void PlaceControls();
    void QueryWhoisTerminate(TJob* job);
    // What the report says of a name the query refused (GBK).
    std::string InvalidNameText(const std::string& domain) const;
};
