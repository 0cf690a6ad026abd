#include "ui/Unit_Whois.h"

#include "batch/GbkQt.h"
#include "batch/QueryWhois.h"
#include "engine/DomainName.h"
#include "engine/ProxyRotation.h"
#include "engine/RegistryData.h"
#include "ui/FieldMarkDisplay.h"
#include "ui/ObjectNames.h"
#include "ui/UiFonts.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

namespace {

// "Tavirel超强域名注册信息查询工具 - 可查询绝大多数特殊后缀WHOIS信息"
constexpr std::string_view Caption =
    "Tavirel\xB3\xAC\xC7\xBF\xD3\xF2\xC3\xFB\xD7\xA2\xB2\xE1\xD0\xC5"
    "\xCF\xA2\xB2\xE9\xD1\xAF\xB9\xA4\xBE\xDF - \xBF\xC9\xB2\xE9"
    "\xD1\xAF\xBE\xF8\xB4\xF3\xB6\xE0\xCA\xFD\xCC\xD8\xCA\xE2\xBA"
    "\xF3\xD7\xBAWHOIS\xD0\xC5\xCF\xA2";
// "立即查询"
constexpr std::string_view QueryCaption = "\xC1\xA2\xBC\xB4\xB2\xE9\xD1\xAF";
// "正在查询…": the button while the query runs
constexpr std::string_view BusyCaption = "\xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xA1\xAD";
// "“", the name, "”不是有效的域名：", why
constexpr std::string_view InvalidNameStart = "\xA1\xB0";
constexpr std::string_view InvalidNameMiddle =
    "\xA1\xB1\xB2\xBB\xCA\xC7\xD3\xD0\xD0\xA7\xB5\xC4\xD3\xF2\xC3\xFB\xA3\xBA";
// "查询域名解析的IP地址"
constexpr std::string_view IPAddressCaption =
    "\xB2\xE9\xD1\xAF\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6\xB5\xC4IP\xB5\xD8\xD6\xB7";

// The client area the controls' places are measured in; the anchors keep
// each control's distance to the sides it is anchored to.
constexpr int DesignWidth = 549;
constexpr int DesignHeight = 371;
constexpr int FontPixelHeight = 11;

// Stretched with the window (anchored left and right, and for the report
// also top and bottom): the distance kept to the right and bottom sides.
constexpr int DomainRightGap = DesignWidth - (8 + 288);
constexpr int ButtonRightGap = DesignWidth - 451;
constexpr int ReportRightGap = DesignWidth - (8 + 518);
constexpr int ReportBottomGap = DesignHeight - (35 + 308);

// The report's CR LF breaks, and the CR CR LF that a reply's own CR LF
// became, each stand for one line break on screen.
QString ReportForDisplay(const std::string& report) {
    QString text = GbkToQString(report);
    text.replace(QStringLiteral("\r\r\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return WithVisibleFieldMarks(text);
}

template <typename TControl> TControl* NamedControl(QWidget* parent, const char* name) {
    return Named(new TControl(parent), name);
}

} // namespace

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(GbkToQString(Caption));
    QFont font = TahomaFont(8);
    font.setPixelSize(FontPixelHeight);
    setFont(font);
    CreateControls();
    resize(DesignWidth, DesignHeight);
    // A hidden window hears of its size only when shown; place them now.
    PlaceControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm2::~TForm2() = default;

void TForm2::CreateControls() {
    txtDomain = NamedControl<QLineEdit>(this, "txtDomain");

    btnQueryWhois = NamedControl<QPushButton>(this, "btnQueryWhois");
    btnQueryWhois->setText(GbkToQString(QueryCaption));
    btnQueryWhois->setDefault(true);
    connect(btnQueryWhois, &QPushButton::clicked, this, [this] { btnQueryWhoisClick(); });

    txtWhoisInfo = NamedControl<QPlainTextEdit>(this, "txtWhoisInfo");
    txtWhoisInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtWhoisInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the next control; Enter stays a new line here.
    txtWhoisInfo->setTabChangesFocus(true);

    cIPAddress = NamedControl<QCheckBox>(this, "cIPAddress");
    cIPAddress->setText(GbkToQString(IPAddressCaption));

    setTabOrder(txtDomain, btnQueryWhois);
    setTabOrder(btnQueryWhois, txtWhoisInfo);
    setTabOrder(txtWhoisInfo, cIPAddress);
}

void TForm2::PlaceControls() {
    const int w = width();
    const int h = height();
    txtDomain->setGeometry(8, 8, w - 8 - DomainRightGap, 21);
    btnQueryWhois->setGeometry(w - ButtonRightGap, 8, 75, 21);
    txtWhoisInfo->setGeometry(8, 35, w - 8 - ReportRightGap, h - 35 - ReportBottomGap);
    cIPAddress->setGeometry(305, 10, 143, 17);
}

void TForm2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceControls();
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // The report keeps Enter for itself; every other control lets it through
    // to here.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        if (btnQueryWhois->isEnabled())
            btnQueryWhois->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm2::btnQueryWhoisClick() {
    const QString text = txtDomain->text();
    if (text.isEmpty())
        return;
    std::shared_ptr<TProxyRotation> proxies;
    if (Proxies) {
        proxies = Proxies();
        if (!proxies)
            return;
    }
    auto* job = new TQueryWhois(QStringToGbk(text), cIPAddress->isChecked());
    job->ResolveHost = ResolveHost;
    job->RegistryData = RegistryData;
    job->Proxies = std::move(proxies);
    job->ProtocolPreference = ProtocolPreference;
    // A window closed while its query runs is gone by the time the job ends;
    // the report then goes nowhere.
    QPointer<TForm2> window(this);
    job->Start([window](TJob* ended) {
        if (window)
            window->QueryWhoisTerminate(ended);
    });
    btnQueryWhois->setText(GbkToQString(BusyCaption));
    // A disabled button would hand its focus to the report, where Enter is a
    // new line; the domain field is where the next query is typed.
    if (btnQueryWhois->hasFocus())
        txtDomain->setFocus();
    btnQueryWhois->setEnabled(false);
}

void TForm2::QueryWhoisTerminate(TJob* job) {
    const auto& query = *static_cast<TQueryWhois*>(job);
    // No report: the name was refused before any server was asked.
    txtWhoisInfo->setPlainText(query.Report.empty() ? GbkToQString(InvalidNameText(query.Domain))
                                                    : ReportForDisplay(query.Report));
    btnQueryWhois->setText(GbkToQString(QueryCaption));
    btnQueryWhois->setEnabled(true);
}

std::string TForm2::InvalidNameText(const std::string& domain) const {
    const TRegistryData& data = RegistryData ? *RegistryData : *ProgramRegistryData().Data;
    return std::string(InvalidNameStart) + domain + std::string(InvalidNameMiddle) +
           CheckDomainName(domain, data).Reason;
}
