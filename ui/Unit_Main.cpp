#include "ui/Unit_Main.h"

#include "batch/BatchJournal.h"
#include "batch/GbkQt.h"
#include "candidates/Unit_CreateDomains.h"
#include "candidates/Unit_ImportDomains.h"
#include "engine/IntegerText.h"
#include "engine/RegistryData.h"
#include "ui/AdsPage.h"
#include "ui/BatchProgressLine.h"
#include "ui/InputChecks.h"
#include "ui/JournalKeeper.h"
#include "ui/ListActions.h"
#include "ui/ObjectNames.h"
#include "ui/PatternHelpText.h"
#include "ui/ProtocolChoices.h"
#include "ui/RememberedSettings.h"
#include "ui/ResultListModel.h"
#include "ui/ResumeQuestion.h"
#include "ui/SourcesSetting.h"
#include "ui/UiFonts.h"
#include "ui/Unit_Whois.h"
#include "ui/WindowDialogs.h"

#include <chrono>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <exception>

namespace {

// How far apart the lines a batch appends reach the result lists.
constexpr std::chrono::milliseconds ListShowDelay{100};

// "TavirelBrisvane "
constexpr const char* Caption = "TavirelBrisvane ";
// "超强域名注册信息查询工具"
constexpr const char* ShowWhoisCaption = "\xB3\xAC\xC7\xBF\xD3\xF2\xC3\xFB\xD7\xA2\xB2\xE1\xD0\xC5"
                                         "\xCF\xA2\xB2\xE9\xD1\xAF\xB9\xA4\xBE\xDF";
// "上一步"
constexpr const char* PrevCaption = "\xC9\xCF\xD2\xBB\xB2\xBD";
// "下一步"
constexpr const char* NextCaption = "\xCF\xC2\xD2\xBB\xB2\xBD";
// "开始查询"
constexpr const char* StartCaption = "\xBF\xAA\xCA\xBC\xB2\xE9\xD1\xAF";
// "生成待查列表"
constexpr const char* Tab1Caption = "\xC9\xFA\xB3\xC9\xB4\xFD\xB2\xE9\xC1\xD0\xB1\xED";
// "设置查询参数"
constexpr const char* Tab2Caption = "\xC9\xE8\xD6\xC3\xB2\xE9\xD1\xAF\xB2\xCE\xCA\xFD";
// "开始域名查询"
constexpr const char* Tab3Caption = "\xBF\xAA\xCA\xBC\xD3\xF2\xC3\xFB\xB2\xE9\xD1\xAF";
// "生成域名列表"
constexpr const char* GroupCreateDomainsCaption =
    "\xC9\xFA\xB3\xC9\xD3\xF2\xC3\xFB\xC1\xD0\xB1\xED";
// "生成条件表达式"
constexpr const char* Label2Caption = "\xC9\xFA\xB3\xC9\xCC\xF5\xBC\xFE\xB1\xED\xB4\xEF\xCA\xBD";
// "{拼音}{数字}.com"
constexpr const char* PatternDefault = "{\xC6\xB4\xD2\xF4}{\xCA\xFD\xD7\xD6}.com";
// "数量"
constexpr const char* Label3Caption = "\xCA\xFD\xC1\xBF";
// "生 成"
constexpr const char* CreateCaption = "\xC9\xFA \xB3\xC9";
// "导入域名列表"
constexpr const char* GroupBoxImportCaption = "\xB5\xBC\xC8\xEB\xD3\xF2\xC3\xFB\xC1\xD0\xB1\xED";
// "···"
constexpr const char* ImportFileCaption = "\xA1\xA4\xA1\xA4\xA1\xA4";
// "请选择包括域名列表的文件 (每行一个域名)"
constexpr const char* LabImportCaption =
    "\xC7\xEB\xD1\xA1\xD4\xF1\xB0\xFC\xC0\xA8\xD3\xF2\xC3\xFB\xC1\xD0\xB1\xED\xB5\xC4\xCE\xC4\xBC"
    "\xFE (\xC3\xBF\xD0\xD0\xD2\xBB\xB8\xF6\xD3\xF2\xC3\xFB)";
// "开始导入域名"
constexpr const char* ImportCaption = "\xBF\xAA\xCA\xBC\xB5\xBC\xC8\xEB\xD3\xF2\xC3\xFB";
// "规则详细说明"
constexpr const char* GroupCreateMemoCaption = "\xB9\xE6\xD4\xF2\xCF\xEA\xCF\xB8\xCB\xB5\xC3\xF7";
// "待查询域名列表"
constexpr const char* GroupBox2Caption = "\xB4\xFD\xB2\xE9\xD1\xAF\xD3\xF2\xC3\xFB\xC1\xD0\xB1\xED";
// "清空列表"
constexpr const char* ClearDomainsCaption = "\xC7\xE5\xBF\xD5\xC1\xD0\xB1\xED";
// "导出列表"
constexpr const char* SaveDomainListCaption = "\xB5\xBC\xB3\xF6\xC1\xD0\xB1\xED";
// "查询结果显示过滤"
constexpr const char* GroupBox1Caption =
    "\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB\xCF\xD4\xCA\xBE\xB9\xFD\xC2\xCB";
// "显示域名"
constexpr const char* cbDomainCaption = "\xCF\xD4\xCA\xBE\xD3\xF2\xC3\xFB";
// "显示域名注册时间"
constexpr const char* cbRegTimeCaption =
    "\xCF\xD4\xCA\xBE\xD3\xF2\xC3\xFB\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4";
// "显示域名到期时间"
constexpr const char* cbExpTimeCaption =
    "\xCF\xD4\xCA\xBE\xD3\xF2\xC3\xFB\xB5\xBD\xC6\xDA\xCA\xB1\xBC\xE4";
// "显示注册邮箱 (会影响查询速度)"
constexpr const char* cbEmailCaption = "\xCF\xD4\xCA\xBE\xD7\xA2\xB2\xE1\xD3\xCA\xCF\xE4 "
                                       "(\xBB\xE1\xD3\xB0\xCF\xEC\xB2\xE9\xD1\xAF\xCB\xD9\xB6\xC8)";
// "显示域名IP (会影响查询速度)"
constexpr const char* cbIPAddressCaption =
    "\xCF\xD4\xCA\xBE\xD3\xF2\xC3\xFBIP (\xBB\xE1\xD3\xB0\xCF\xEC\xB2\xE9\xD1\xAF\xCB\xD9\xB6\xC8)";
// "查询线程数："
constexpr const char* Label4Caption = "\xB2\xE9\xD1\xAF\xCF\xDF\xB3\xCC\xCA\xFD\xA3\xBA";
// "失败重试次数："
constexpr const char* RetriesCaption = "\xCA\xA7\xB0\xDC\xD6\xD8\xCA\xD4\xB4\xCE\xCA\xFD\xA3\xBA";
// "查询方式"
constexpr const char* labProtocolCaption = "\xB2\xE9\xD1\xAF\xB7\xBD\xCA\xBD";
// "关于查询线程数：请输入一个大于1并小于20的整数。若查询线程过多，很容易被WHOIS服务器封IP。"
constexpr const char* Label5Caption =
    "\xB9\xD8\xD3\xDA\xB2\xE9\xD1\xAF\xCF\xDF\xB3\xCC\xCA\xFD\xA3\xBA\xC7\xEB\xCA\xE4\xC8\xEB\xD2"
    "\xBB\xB8\xF6\xB4\xF3\xD3\xDA"
    "1\xB2\xA2\xD0\xA1\xD3\xDA"
    "20\xB5\xC4\xD5\xFB\xCA\xFD\xA1\xA3\xC8\xF4\xB2\xE9\xD1\xAF\xCF\xDF\xB3\xCC\xB9\xFD\xB6\xE0\xA3"
    "\xAC\xBA\xDC\xC8\xDD\xD2\xD7\xB1\xBBWHOIS\xB7\xFE\xCE\xF1\xC6\xF7\xB7\xE2IP\xA1\xA3";
// "如果你发现了大量的“查询失败”的信息，则很可能是被WHOIS服务器封了IP，你需要更换IP重新查询。"
constexpr const char* Label6Caption =
    "\xC8\xE7\xB9\xFB\xC4\xE3\xB7\xA2\xCF\xD6\xC1\xCB\xB4\xF3\xC1\xBF\xB5\xC4\xA1\xB0\xB2\xE9\xD1"
    "\xAF\xCA\xA7\xB0\xDC\xA1\xB1\xB5\xC4\xD0\xC5\xCF\xA2\xA3\xAC\xD4\xF2\xBA\xDC\xBF\xC9\xC4\xDC"
    "\xCA\xC7\xB1\xBBWHOIS\xB7\xFE\xCE\xF1\xC6\xF7\xB7\xE2\xC1\xCBIP\xA3\xAC\xC4\xE3\xD0\xE8\xD2"
    "\xAA\xB8\xFC\xBB\xBBIP\xD6\xD8\xD0\xC2\xB2\xE9\xD1\xAF\xA1\xA3";
// "代理服务器（每行一个）"
constexpr const char* labProxiesCaption =
    "\xB4\xFA\xC0\xED\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xA8\xC3\xBF\xD0\xD0\xD2\xBB\xB8\xF6\xA3\xA9";
// "正在查询的状态…"
constexpr const char* Label7Caption =
    "\xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xB5\xC4\xD7\xB4\xCC\xAC\xA1\xAD";
// "尚未注册的域名"
constexpr const char* Label8Caption = "\xC9\xD0\xCE\xB4\xD7\xA2\xB2\xE1\xB5\xC4\xD3\xF2\xC3\xFB";
// "保存尚未注册列表"
constexpr const char* SaveNoRegCaption =
    "\xB1\xA3\xB4\xE6\xC9\xD0\xCE\xB4\xD7\xA2\xB2\xE1\xC1\xD0\xB1\xED";
// "保存查询显示结果"
constexpr const char* SaveDomainInfoCaption =
    "\xB1\xA3\xB4\xE6\xB2\xE9\xD1\xAF\xCF\xD4\xCA\xBE\xBD\xE1\xB9\xFB";
// "保存未知域名"
constexpr const char* SaveUnknownCaption = "\xB1\xA3\xB4\xE6\xCE\xB4\xD6\xAA\xD3\xF2\xC3\xFB";
// "清空当前查询结果"
constexpr const char* ClearInfoCaption =
    "\xC7\xE5\xBF\xD5\xB5\xB1\xC7\xB0\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB";
// "若要开始查询，您必须先生成些待查询的域名！"
constexpr const char* NoCandidatesMessage =
    "\xC8\xF4\xD2\xAA\xBF\xAA\xCA\xBC\xB2\xE9\xD1\xAF\xA3\xAC\xC4\xFA\xB1\xD8\xD0\xEB\xCF\xC8\xC9"
    "\xFA\xB3\xC9\xD0\xA9\xB4\xFD\xB2\xE9\xD1\xAF\xB5\xC4\xD3\xF2\xC3\xFB\xA3\xA1";
// "共有 "
constexpr const char* CountPrefix = "\xB9\xB2\xD3\xD0 ";
// " 个等待查询的域名"
constexpr const char* CountSuffix =
    " \xB8\xF6\xB5\xC8\xB4\xFD\xB2\xE9\xD1\xAF\xB5\xC4\xD3\xF2\xC3\xFB";
// "请稍候…"
constexpr const char* CreateBusyCaption = "\xC7\xEB\xC9\xD4\xBA\xF2\xA1\xAD";
// "正在导入中…"
constexpr const char* ImportBusyCaption = "\xD5\xFD\xD4\xDA\xB5\xBC\xC8\xEB\xD6\xD0\xA1\xAD";
// "文本文件，每行一个域名 (*.txt)"
constexpr const char* OpenFilter = "\xCE\xC4\xB1\xBE\xCE\xC4\xBC\xFE\xA3\xAC\xC3\xBF\xD0\xD0\xD2"
                                   "\xBB\xB8\xF6\xD3\xF2\xC3\xFB (*.txt)";
// "文本文件 (*.txt)"
constexpr const char* SaveFilter = "\xCE\xC4\xB1\xBE\xCE\xC4\xBC\xFE (*.txt)";

constexpr const char* TxtExtension = ".txt";
constexpr const char* AdsHostVariable = "TAVIREL_AD_HOST";

constexpr int ClientWidth = 649;
constexpr int ClientHeight = 542;
constexpr int PagesHeight = 394;
constexpr int AdsHeight = 81;
constexpr int ButtonBarHeight = 67;
constexpr int Tab1LeftWidth = 458;
constexpr int Tab1RightWidth = 181;
constexpr int TimerIntervalMs = 100;
constexpr int MaxCreateCountLength = 5;
constexpr int MaxThreadLength = 2;
constexpr int MaxRetriesLength = 2;
constexpr const char* DefaultRetries = "3";
// An import's message lists this many skipped lines with their reasons.
constexpr std::size_t ListedSkippedLines = 5;

// The colours the window's lists and labels name.
const QColor Cream(255, 251, 240);
const QColor Green(0, 128, 0);
const QColor Teal(0, 128, 128);
const QColor Grey(128, 128, 128);

QString Text(const char* gbk) {
    return GbkToQString(gbk);
}

QFont PixelFont(QFont font, int pixels, bool bold = false) {
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

void SetBaseColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
}

QListView* CreateListView(TGbkListModel& model, const char* name, QWidget* parent) {
    auto* view = Named(new QListView(parent), name);
    // Rows of one height let a view of a million lines lay out at once.
    view->setUniformItemSizes(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setModel(&model);
    FollowNewestLine(view, model);
    return view;
}

} // namespace

std::string SaveFileNameWithTxt(const std::string& name) {
    const std::size_t separator = name.find_last_of("\\:/");
    const std::size_t dot = name.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (separator == std::string::npos || dot > separator);
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    return extension == TxtExtension ? name : name + TxtExtension;
}

TForm1::TForm1(std::shared_ptr<const TRegistryData> registryData, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FRegistryData(std::move(registryData)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Text(Caption));
    setFont(PixelFont(TahomaFont(8), 11));
    resize(ClientWidth, ClientHeight);
    setMinimumSize(ClientWidth, ClientHeight);

    FBatch = new TBatchController(
        FDomains, FQueryState, FNoReg, FDomainInfo,
        [this] {
            TDisplayFlags flags;
            flags.ShowDomain = cbDomain->isChecked();
            flags.ShowEmail = cbEmail->isChecked();
            flags.ShowIPAddress = cbIPAddress->isChecked();
            flags.ShowRegTime = cbRegTime->isChecked();
            flags.ShowExpTime = cbExpTime->isChecked();
            return flags;
        },
        this);
    FBatch->SetRegistryData(FRegistryData);
    FJournal = std::make_unique<TJournalKeeper>(
        this, [this](const std::string& text) { Guarded([&] { ShowMessage(text); }); });
    CreateControls();
    Dialogs = DefaultDialogs(this, OpenText, SaveText);
    ConnectHandlers();

    // The timer runs from the window's creation, shown or not.
    Timers = new QTimer(this);
    Timers->setObjectName(QStringLiteral("Timers"));
    Timers->setInterval(TimerIntervalMs);
    connect(Timers, &QTimer::timeout, this, [this] { Guarded([this] { TimersTimer(); }); });
    Timers->start();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Pages = Named(new QTabWidget(this), "Pages");
    // The pages, and with them the lists, take any extra size of the window.
    Pages->setMinimumHeight(PagesHeight);
    Tab1 = CreateTab1();
    Tab2 = CreateTab2();
    Tab3 = CreateTab3();
    Pages->addTab(Tab1, Text(Tab1Caption));
    Pages->addTab(Tab2, Text(Tab2Caption));
    Pages->addTab(Tab3, Text(Tab3Caption));
    btnShowWhoisQuery = Named(new QPushButton(Text(ShowWhoisCaption), Pages), "btnShowWhoisQuery");
    Pages->setCornerWidget(btnShowWhoisQuery, Qt::TopRightCorner);
    layout->addWidget(Pages, 1);

    PanelAds = Named(new QFrame(this), "PanelAds");
    PanelAds->setFixedHeight(AdsHeight);
    auto* adsBrowser = Named(new TAdsBrowser(PanelAds), "webAds");
    webAds = adsBrowser;
    PanelAds->installEventFilter(this);
    FAds = new TAdsPage(adsBrowser, this);
    layout->addWidget(PanelAds);

    layout->addWidget(CreateButtonBar());

    SaveText = Named(new QFileDialog(this), "SaveText");
    SaveText->setAcceptMode(QFileDialog::AcceptSave);
    SaveText->setFileMode(QFileDialog::AnyFile);
    OpenText = Named(new QFileDialog(this), "OpenText");
    OpenText->setAcceptMode(QFileDialog::AcceptOpen);
    OpenText->setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialogs, which speak Chinese with Qt's texts.
    SaveText->setOption(QFileDialog::DontUseNativeDialog);
    OpenText->setOption(QFileDialog::DontUseNativeDialog);
}

QWidget* TForm1::CreateTab1() {
    auto* tab = Named(new QWidget, "Tab1");
    auto* columns = new QHBoxLayout(tab);
    columns->setContentsMargins(4, 4, 4, 4);
    columns->setSpacing(4);

    auto* left = new QWidget(tab);
    left->setFixedWidth(Tab1LeftWidth - 8);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(4);

    GroupCreateDomains =
        Named(new QGroupBox(Text(GroupCreateDomainsCaption), left), "GroupCreateDomains");
    auto* createRow = new QHBoxLayout(GroupCreateDomains);
    Label2 = Named(new QLabel(Text(Label2Caption), GroupCreateDomains), "Label2");
    txTCreateDomain =
        Named(new QLineEdit(Text(PatternDefault), GroupCreateDomains), "txTCreateDomain");
    txTCreateDomain->setFont(PixelFont(font(), 14));
    Label3 = Named(new QLabel(Text(Label3Caption), GroupCreateDomains), "Label3");
    txtMaxCreateCount =
        Named(new QLineEdit(QStringLiteral("100"), GroupCreateDomains), "txtMaxCreateCount");
    txtMaxCreateCount->setMaxLength(MaxCreateCountLength);
    txtMaxCreateCount->setFixedWidth(48);
    btnCreateDomains =
        Named(new QPushButton(Text(CreateCaption), GroupCreateDomains), "btnCreateDomains");
    createRow->addWidget(Label2);
    createRow->addWidget(txTCreateDomain, 1);
    createRow->addWidget(Label3);
    createRow->addWidget(txtMaxCreateCount);
    createRow->addWidget(btnCreateDomains);
    leftLayout->addWidget(GroupCreateDomains);

    GroupBoxImport = Named(new QGroupBox(Text(GroupBoxImportCaption), left), "GroupBoxImport");
    auto* importGrid = new QGridLayout(GroupBoxImport);
    txtImportDomain = Named(new QLineEdit(GroupBoxImport), "txtImportDomain");
    txtImportDomain->setReadOnly(true);
    btnImportDomainFile =
        Named(new QPushButton(Text(ImportFileCaption), GroupBoxImport), "btnImportDomainFile");
    btnImportDomainFile->setFixedWidth(32);
    labImportDomain = Named(new QLabel(Text(LabImportCaption), GroupBoxImport), "labImportDomain");
    SetTextColour(labImportDomain, Grey);
    btnImportDomains =
        Named(new QPushButton(Text(ImportCaption), GroupBoxImport), "btnImportDomains");
    importGrid->addWidget(txtImportDomain, 0, 0, 1, 2);
    importGrid->addWidget(btnImportDomainFile, 0, 2);
    importGrid->addWidget(labImportDomain, 1, 0);
    importGrid->addWidget(btnImportDomains, 1, 1, 1, 2, Qt::AlignRight);
    importGrid->setColumnStretch(0, 1);
    leftLayout->addWidget(GroupBoxImport);

    GroupCreateMemo = Named(new QGroupBox(Text(GroupCreateMemoCaption), left), "GroupCreateMemo");
    auto* memoLayout = new QVBoxLayout(GroupCreateMemo);
    MemoCreateMemo = Named(new QPlainTextEdit(GroupCreateMemo), "MemoCreateMemo");
    MemoCreateMemo->setReadOnly(true);
    MemoCreateMemo->setPlainText(PatternHelpText());
    MemoCreateMemo->setFrameShape(QFrame::NoFrame);
    MemoCreateMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoCreateMemo->setFont(PixelFont(font(), 13));
    SetBaseColour(MemoCreateMemo, Cream);
    SetTextColour(MemoCreateMemo, Green);
    memoLayout->addWidget(MemoCreateMemo);
    leftLayout->addWidget(GroupCreateMemo, 1);
    columns->addWidget(left);

    GroupBox2 = Named(new QGroupBox(Text(GroupBox2Caption), tab), "GroupBox2");
    GroupBox2->setMinimumWidth(Tab1RightWidth - 4);
    auto* rightLayout = new QVBoxLayout(GroupBox2);
    labDomainCount = Named(new QLabel(GroupBox2), "labDomainCount");
    labDomainCount->setText(Text(CountPrefix) + QLatin1Char('0') + Text(CountSuffix));
    SetTextColour(labDomainCount, Teal);
    auto* listButtons = new QHBoxLayout;
    btnClearDomains =
        Named(new QPushButton(Text(ClearDomainsCaption), GroupBox2), "btnClearDomains");
    btnSaveDomainList =
        Named(new QPushButton(Text(SaveDomainListCaption), GroupBox2), "btnSaveDomainList");
    listButtons->addWidget(btnClearDomains);
    listButtons->addWidget(btnSaveDomainList);
    listDomains = CreateListView(FDomains, "listDomains", GroupBox2);
    listDomains->setFrameShape(QFrame::NoFrame);
    SetBaseColour(listDomains, Cream);
    rightLayout->addWidget(labDomainCount);
    rightLayout->addLayout(listButtons);
    rightLayout->addWidget(listDomains, 1);
    columns->addWidget(GroupBox2, 1);
    return tab;
}

QWidget* TForm1::CreateTab2() {
    auto* tab = Named(new QWidget, "Tab2");
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(10);

    GroupBox1 = Named(new QGroupBox(Text(GroupBox1Caption), tab), "GroupBox1");
    auto* flags = new QGridLayout(GroupBox1);
    cbDomain = Named(new QCheckBox(Text(cbDomainCaption), GroupBox1), "cbDomain");
    cbRegTime = Named(new QCheckBox(Text(cbRegTimeCaption), GroupBox1), "cbRegTime");
    cbExpTime = Named(new QCheckBox(Text(cbExpTimeCaption), GroupBox1), "cbExpTime");
    cbEmail = Named(new QCheckBox(Text(cbEmailCaption), GroupBox1), "cbEmail");
    cbIPAddress = Named(new QCheckBox(Text(cbIPAddressCaption), GroupBox1), "cbIPAddress");
    cbDomain->setChecked(true);
    cbRegTime->setChecked(true);
    cbExpTime->setChecked(true);
    flags->addWidget(cbDomain, 0, 0);
    flags->addWidget(cbRegTime, 0, 1);
    flags->addWidget(cbExpTime, 0, 2);
    flags->addWidget(cbEmail, 1, 0);
    flags->addWidget(cbIPAddress, 1, 1);
    layout->addWidget(GroupBox1);

    auto* threadRow = new QHBoxLayout;
    Label4 = Named(new QLabel(Text(Label4Caption), tab), "Label4");
    Label4->setFont(PixelFont(font(), 16, true));
    txtMaxThread = Named(new QLineEdit(QStringLiteral("5"), tab), "txtMaxThread");
    txtMaxThread->setFont(PixelFont(font(), 19, true));
    txtMaxThread->setMaxLength(MaxThreadLength);
    txtMaxThread->setFixedWidth(44);
    threadRow->addWidget(Label4);
    threadRow->addWidget(txtMaxThread);
    threadRow->addSpacing(24);
    // The retry count follows the thread count's rules and looks.
    labRetries = Named(new QLabel(Text(RetriesCaption), tab), "labRetries");
    labRetries->setFont(Label4->font());
    txtRetries = Named(new QLineEdit(QString::fromLatin1(DefaultRetries), tab), "txtRetries");
    txtRetries->setFont(txtMaxThread->font());
    txtRetries->setMaxLength(MaxRetriesLength);
    txtRetries->setFixedWidth(txtMaxThread->width());
    threadRow->addWidget(labRetries);
    threadRow->addWidget(txtRetries);
    threadRow->addStretch(1);
    layout->addLayout(threadRow);

    auto* protocolRow = new QHBoxLayout;
    labProtocol = Named(new QLabel(Text(labProtocolCaption), tab), "labProtocol");
    labProtocol->setFont(Label4->font());
    cbProtocol = Named(new QComboBox(tab), "cbProtocol");
    AddProtocolChoices(cbProtocol);
    protocolRow->addWidget(labProtocol);
    protocolRow->addWidget(cbProtocol);
    protocolRow->addStretch(1);
    layout->addLayout(protocolRow);
    FSources = std::make_unique<TSourcesSetting>(tab, layout);

    Label5 = Named(new QLabel(Text(Label5Caption), tab), "Label5");
    Label6 = Named(new QLabel(Text(Label6Caption), tab), "Label6");
    Label5->setWordWrap(true);
    Label6->setWordWrap(true);
    layout->addWidget(Label5);
    layout->addWidget(Label6);

    labProxies = Named(new QLabel(Text(labProxiesCaption), tab), "labProxies");
    memoProxies = Named(new QPlainTextEdit(tab), "memoProxies");
    memoProxies->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoProxies->setTabChangesFocus(true);
    memoProxies->setFixedHeight(90);
    layout->addWidget(labProxies);
    layout->addWidget(memoProxies);
    layout->addStretch(1);
    RegisterSettingFields();
    return tab;
}

// The settings a batch runs with: kept in config.ini and in the journal.
void TForm1::RegisterSettingFields() {
    FSettingFields.AddLineEdit("Threads", txtMaxThread);
    FSettingFields.AddLineEdit("Retries", txtRetries);
    FSettingFields.AddCheckBox("ShowDomain", cbDomain);
    FSettingFields.AddCheckBox("ShowRegTime", cbRegTime);
    FSettingFields.AddCheckBox("ShowExpTime", cbExpTime);
    FSettingFields.AddCheckBox("ShowEmail", cbEmail);
    FSettingFields.AddCheckBox("ShowIPAddress", cbIPAddress);
    FSettingFields.AddComboBox("Protocol", cbProtocol);
    FSources->Register(FSettingFields);
}

QWidget* TForm1::CreateTab3() {
    auto* tab = Named(new QWidget, "Tab3");
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    auto* stateColumn = new QVBoxLayout;
    Label7 = Named(new QLabel(Text(Label7Caption), tab), "Label7");
    listQueryState = CreateListView(FQueryState, "listQueryState", tab);
    stateColumn->addWidget(Label7);
    stateColumn->addWidget(listQueryState, 1);
    auto* freeColumn = new QVBoxLayout;
    Label8 = Named(new QLabel(Text(Label8Caption), tab), "Label8");
    listNoReg = CreateListView(FNoReg, "listNoReg", tab);
    freeColumn->addWidget(Label8);
    freeColumn->addWidget(listNoReg, 1);
    auto* buttons = new QVBoxLayout;
    btnSaveNoRegList = Named(new QPushButton(Text(SaveNoRegCaption), tab), "btnSaveNoRegList");
    btnSaveDomainInfo =
        Named(new QPushButton(Text(SaveDomainInfoCaption), tab), "btnSaveDomainInfo");
    btnSaveUnknownList =
        Named(new QPushButton(Text(SaveUnknownCaption), tab), "btnSaveUnknownList");
    btnClearInfo = Named(new QPushButton(Text(ClearInfoCaption), tab), "btnClearInfo");
    buttons->addStretch(1);
    buttons->addWidget(btnSaveNoRegList);
    buttons->addWidget(btnSaveDomainInfo);
    buttons->addWidget(btnSaveUnknownList);
    buttons->addWidget(btnClearInfo);
    buttons->addStretch(1);
    top->addLayout(stateColumn, 3);
    top->addLayout(freeColumn, 2);
    top->addLayout(buttons);
    layout->addLayout(top, 1);

    listDomainInfo = CreateListView(FDomainInfo, "listDomainInfo", tab);
    // Coloured by verdict, field marks visible; the lines stay the list's.
    FResults = new TResultListModel(FDomainInfo, this);
    listDomainInfo->setModel(FResults);
    layout->addWidget(listDomainInfo, 1);
    auto* figures = new QHBoxLayout;
    labCounts = Named(new QLabel(tab), "labCounts");
    SetTextColour(labCounts, Teal);
    labPace = Named(new QLabel(tab), "labPace");
    SetTextColour(labPace, Teal);
    figures->addWidget(labCounts);
    figures->addStretch(1);
    figures->addWidget(labPace);
    layout->addLayout(figures);
    prog = Named(new QProgressBar(tab), "prog");
    prog->setRange(0, 1);
    prog->setValue(0);
    layout->addWidget(prog);
    return tab;
}

QWidget* TForm1::CreateButtonBar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("ButtonBar"));
    bar->setFixedHeight(ButtonBarHeight);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(10);
    const QFont kai = PixelFont(KaiFont(20), 29, true);
    btnPrev = Named(new QPushButton(Text(PrevCaption), bar), "btnPrev");
    btnNext = Named(new QPushButton(Text(NextCaption), bar), "btnNext");
    btnStart = Named(new QPushButton(Text(StartCaption), bar), "btnStart");
    // The controller's caption is the one record of whether the batch is paused.
    btnStop = Named(new QPushButton(GbkToQString(FBatch->StopCaption()), bar), "btnStop");
    row->addStretch(1);
    for (QPushButton* button : {btnPrev, btnNext, btnStart, btnStop}) {
        button->setFont(kai);
        button->setEnabled(false);
        button->setMinimumHeight(ButtonBarHeight - 18);
        row->addWidget(button);
    }
    return bar;
}

void TForm1::ConnectHandlers() {
    const auto bind = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    bind(btnNext, &TForm1::btnNextClick);
    // The choice applies to the next batch and to every WHOIS window's next query.
    connect(cbProtocol, &QComboBox::currentIndexChanged, this, [this](int index) {
        const auto preference = static_cast<TProtocolPreference>(index);
        FBatch->SetProtocolPreference(preference);
        for (TForm2* window : findChildren<TForm2*>(Qt::FindDirectChildrenOnly))
            window->ProtocolPreference = preference;
    });
    // DNS queries do not go through the proxies: the box says it does not apply.
    connect(memoProxies, &QPlainTextEdit::textChanged, this,
            [this] { FSources->NoteProxies(!memoProxies->toPlainText().trimmed().isEmpty()); });
    bind(btnPrev, &TForm1::btnPrevClick);
    bind(btnCreateDomains, &TForm1::btnCreateDomainsClick);
    bind(btnImportDomainFile, &TForm1::btnImportDomainFileClick);
    bind(btnImportDomains, &TForm1::btnImportDomainsClick);
    bind(btnClearDomains, &TForm1::btnClearDomainsClick);
    bind(btnClearInfo, &TForm1::btnClearInfoClick);
    bind(btnSaveDomainList, &TForm1::btnSaveDomainListClick);
    bind(btnSaveNoRegList, &TForm1::btnSaveNoRegListClick);
    bind(btnSaveDomainInfo, &TForm1::btnSaveDomainInfoClick);
    bind(btnSaveUnknownList, &TForm1::btnSaveUnknownListClick);
    bind(btnShowWhoisQuery, &TForm1::btnShowWhoisQueryClick);
    bind(btnStart, &TForm1::btnStartClick);
    bind(btnStop, &TForm1::btnStopClick);
    new TBatchProgressLine(*FBatch, prog, labCounts, labPace, this);
    connect(FBatch, &TBatchController::QueryEnded, this,
            [this](const TQueryDomain* job) { FJournal->Record(*job); });
    connect(FBatch, &TBatchController::QueryEnded, FResults, &TResultListModel::NoteLastResult);
    const auto whoisOn = [this](const std::string& domain) {
        Guarded([&] { QueryWhoisOn(domain); });
    };
    AddListActions(listDomains, LineOf(FDomains), whoisOn);
    AddListActions(listNoReg, LineOf(FNoReg), whoisOn);
    AddListActions(listQueryState, StateLineDomainOf(FQueryState), whoisOn);
    AddListActions(
        listDomainInfo, [this](int row) { return FResults->DomainOf(row); }, whoisOn);
    // A batch adds hundreds of lines a second: they reach the lists a few
    // times a second, and all of them at its end.
    FNoReg.SetShowDelay(ListShowDelay);
    FDomainInfo.SetShowDelay(ListShowDelay);
    FQueryState.SetShowDelay(ListShowDelay);
    connect(FBatch, &TBatchController::BatchEnded, this, [this] {
        FNoReg.ShowPending();
        FDomainInfo.ShowPending();
        FQueryState.ShowPending();
        FJournal->End();
    });
}

void TForm1::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        Dialogs.ShowMessage(GbkToQString(e.what()));
    } catch (...) {
        Dialogs.ShowMessage(QStringLiteral("unexpected error"));
    }
}

void TForm1::ShowMessage(const std::string& gbkText) {
    Dialogs.ShowMessage(GbkToQString(gbkText));
}

// --- The wizard ---------------------------------------------------------------

void TForm1::TimersTimer() {
    ApplyStep();
    labDomainCount->setText(Text(CountPrefix) + QString::number(FDomains.Count()) +
                            Text(CountSuffix));
}

void TForm1::ApplyStep() {
    switch (StepIndex) {
    case 0:
        btnPrev->setEnabled(false);
        btnNext->setEnabled(true);
        btnStart->setEnabled(false);
        btnStop->setEnabled(false);
        Pages->setCurrentWidget(Tab1);
        break;
    case 1:
        btnPrev->setEnabled(true);
        btnNext->setEnabled(true);
        btnStart->setEnabled(false);
        btnStop->setEnabled(false);
        Pages->setCurrentWidget(Tab2);
        if (FDomains.Count() == 0) {
            StepIndex = 0;
            // Shown from a call of its own: a timer does not fire again while
            // its own tick waits, and the ticks must go on while the box is
            // open, so the window is back on the first page before the user
            // closes it.
            QMetaObject::invokeMethod(
                this, [this] { Guarded([this] { ShowMessage(NoCandidatesMessage); }); },
                Qt::QueuedConnection);
        }
        break;
    case 2: {
        // Names waiting for a retry keep a batch under way with no job running.
        const TRunPageButtons buttons = RunPageButtons(FBatch->IsActive() ? 1 : 0);
        btnNext->setEnabled(buttons.Next);
        btnPrev->setEnabled(buttons.Prev);
        btnStart->setEnabled(buttons.Start);
        btnStop->setEnabled(buttons.Stop);
        Pages->setCurrentWidget(Tab3);
        break;
    }
    default:
        break;
    }
}

void TForm1::btnNextClick() {
    ++StepIndex;
}

void TForm1::btnPrevClick() {
    --StepIndex;
}

// --- Candidate list -----------------------------------------------------------

void TForm1::btnCreateDomainsClick() {
    const std::string pattern = QStringToGbk(txTCreateDomain->text());
    if (const std::string problem = PatternProblem(pattern, RegistryDataInUse());
        !problem.empty()) {
        ShowMessage(problem);
        return;
    }
    const std::string countText = QStringToGbk(txtMaxCreateCount->text());
    const std::optional<std::int32_t> count = ParseIntegerText(countText);
    if (!count) {
        ShowMessage(NotAnIntegerMessage(countText));
        return;
    }
    btnCreateDomains->setEnabled(false);
    btnCreateDomains->setText(Text(CreateBusyCaption));
    auto* job = new TCreateDomains(pattern, FDomains, *count);
    QPointer<TForm1> self(this);
    job->Start([self, wanted = *count](TJob* ended) {
        if (!self)
            return;
        self->CreateDomainsTerminate();
        const auto& generation = *static_cast<TCreateDomains*>(ended);
        const std::string message = generation.Error().empty()
                                        ? ShortGenerationMessage(wanted, generation.AddedCount())
                                        : generation.Error();
        if (!message.empty())
            self->Guarded([&] { self->ShowMessage(message); });
    });
}

const TRegistryData& TForm1::RegistryDataInUse() const {
    return FRegistryData ? *FRegistryData : *ProgramRegistryData().Data;
}

void TForm1::CreateDomainsTerminate() {
    btnCreateDomains->setEnabled(true);
    btnCreateDomains->setText(Text(CreateCaption));
}

void TForm1::btnImportDomainFileClick() {
    const std::optional<QString> path = Dialogs.ChooseFileToOpen(Text(OpenFilter));
    if (path)
        txtImportDomain->setText(*path);
}

void TForm1::btnImportDomainsClick() {
    const QString path = txtImportDomain->text();
    if (path.isEmpty())
        return;
    if (!FileMayHoldTextLines(path)) {
        ShowMessage(NoTextLinesMessage(QStringToGbk(QDir::toNativeSeparators(path))));
        return;
    }
    btnImportDomains->setText(Text(ImportBusyCaption));
    btnImportDomains->setEnabled(false);
    auto* job =
        new TImportDomains(QFile::encodeName(path).toStdString(), FDomains, ListedSkippedLines);
    job->RegistryData = FRegistryData;
    QPointer<TForm1> self(this);
    job->Start([self](TJob* ended) {
        if (!self)
            return;
        self->ImportDomainsTerminate();
        const auto& import = *static_cast<TImportDomains*>(ended);
        const std::string message =
            import.Error().empty() ? ImportSummary(import.AddedCount(), import.RejectedCount(),
                                                   import.RejectedLines(), import.RejectedReasons())
                                   : import.Error();
        self->Guarded([&] { self->ShowMessage(message); });
    });
    txtImportDomain->clear();
}

void TForm1::ImportDomainsTerminate() {
    btnImportDomains->setEnabled(true);
    btnImportDomains->setText(Text(ImportCaption));
}

void TForm1::btnClearDomainsClick() {
    FDomains.Clear();
}

void TForm1::btnClearInfoClick() {
    FNoReg.Clear();
    FDomainInfo.Clear();
}

// --- Saving -------------------------------------------------------------------

void TForm1::btnSaveDomainListClick() {
    SaveList(FDomains.Lines());
}

void TForm1::btnSaveNoRegListClick() {
    SaveList(FNoReg.Lines());
}

void TForm1::btnSaveDomainInfoClick() {
    SaveList(FDomainInfo.Lines());
}

void TForm1::btnSaveUnknownListClick() {
    SaveList(FBatch->UnknownNames());
}

void TForm1::SaveList(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    const std::optional<QString> chosen = Dialogs.ChooseFileToSave(Text(SaveFilter));
    if (!chosen || chosen->isEmpty())
        return;
    const std::string name = SaveFileNameWithTxt(QFile::encodeName(*chosen).toStdString());
    std::string reason;
    if (!SaveLinesCrLf(name, lines, reason)) {
        Dialogs.ShowMessage(QStringLiteral("Cannot create file \"") +
                            QFile::decodeName(QByteArray::fromStdString(name)) +
                            QStringLiteral("\". ") + QString::fromLocal8Bit(reason));
    }
}

// --- WHOIS windows ------------------------------------------------------------

void TForm1::btnShowWhoisQueryClick() {
    OpenWhoisWindow();
}

TForm2* TForm1::OpenWhoisWindow() {
    // Owned by this window, so every one closes with it; never modal.
    auto* window = new TForm2(this);
    window->RegistryData = FRegistryData;
    window->Proxies = [this] { return ProxiesForWhois(); };
    window->ProtocolPreference = static_cast<TProtocolPreference>(cbProtocol->currentIndex());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void TForm1::QueryWhoisOn(const std::string& domain) {
    TForm2* window = OpenWhoisWindow();
    window->txtDomain->setText(GbkToQString(domain));
    window->btnQueryWhoisClick();
}

// --- Batch --------------------------------------------------------------------

void TForm1::btnStartClick() {
    const bool idle = !FBatch->IsActive();
    if (idle) {
        if (const std::string problem = ThreadCountProblem(QStringToGbk(txtMaxThread->text()));
            !problem.empty()) {
            ShowMessage(problem);
            return;
        }
    }
    if (idle && !TakeProxiesForBatch())
        return;
    const std::string message =
        FBatch->Start(QStringToGbk(txtMaxThread->text()), QStringToGbk(txtRetries->text()));
    if (!message.empty())
        ShowMessage(message);
    else if (idle && FBatch->RunningCount() != 0)
        FJournal->Begin(FDomains.Lines(), FSettingFields.Values());
}

void TForm1::LoadSettings() {
    if (SettingsFile.isEmpty())
        return;
    {
        QSettings ini(SettingsFile, QSettings::IniFormat);
        FSettingFields.Load(ini);
        RestoreWindowPlace(ini, *this);
    }
    memoProxies->setPlainText(LoadProxySetting(SettingsFile));
}

void TForm1::SaveSettings() {
    if (SettingsFile.isEmpty())
        return;
    {
        QSettings ini(SettingsFile, QSettings::IniFormat);
        FSettingFields.Save(ini);
        SaveWindowPlace(ini, *this);
    }
    // Last: it closes the file to others when it holds a password.
    SaveProxySetting(SettingsFile, memoProxies->toPlainText());
}

std::shared_ptr<TProxyRotation> TForm1::ReadProxyField() {
    std::string message;
    std::shared_ptr<TProxyRotation> proxies =
        FProxySetting.RotationFor(QStringToGbk(memoProxies->toPlainText()), message);
    if (!proxies)
        ShowMessage(message);
    return proxies;
}

std::shared_ptr<TProxyRotation> TForm1::ProxiesForWhois() {
    if (FBatch->IsActive() && FBatch->Proxies())
        return FBatch->Proxies();
    return ReadProxyField();
}

bool TForm1::TakeProxiesForBatch() {
    // Kept whether or not its lines are good, so a mistake stays to be mended.
    SaveSettings();
    std::shared_ptr<TProxyRotation> proxies = ReadProxyField();
    if (!proxies)
        return false;
    const bool proxiesSet = proxies->Size() > 0;
    std::string message;
    if (!FSources->ApplyTo(*FBatch, proxiesSet, message)) {
        ShowMessage(message);
        return false;
    }
    FBatch->SetProxies(std::move(proxies));
    return true;
}

void TForm1::btnStopClick() {
    FBatch->PauseOrResume();
    btnStop->setText(GbkToQString(FBatch->StopCaption()));
}

// --- Journal ------------------------------------------------------------------

void TForm1::OfferToContinueLastBatch() {
    std::string error;
    // No journal, one that is not readable, or one that another window holds:
    // there is nothing to offer.
    std::unique_ptr<TBatchJournal> journal =
        TBatchJournal::OpenExisting(UserJournalPath(), TBatchJournal::TAccess::Write, error);
    if (!journal || journal->Finished() || FBatch->IsActive())
        return;
    const TKeptFigures figures = KeptFigures(*journal);
    switch (AskAboutLastBatch(figures, Dialogs.AskYesNo)) {
    case TLastBatchChoice::Continue:
        break;
    case TLastBatchChoice::Discard:
        journal.reset();
        TBatchJournal::Discard(UserJournalPath());
        return;
    case TLastBatchChoice::Keep:
        return;
    }
    FSettingFields.Apply(journal->Settings());
    // The journal stays for the next start-up to offer again.
    if (!TakeProxiesForBatch())
        return;
    FDomains.SetLines(journal->Candidates());
    FNoReg.Clear();
    FDomainInfo.Clear();
    PutBackKept(*journal, FNoReg, FDomainInfo);
    FResults->NoteKept(*journal);
    const std::vector<int> left = journal->PositionsLeft();
    FJournal->TakeUp(std::move(journal));
    StepIndex = 2;
    const std::string message =
        FBatch->Start(QStringToGbk(txtMaxThread->text()), QStringToGbk(txtRetries->text()), left,
                      CarriedCounts(figures));
    if (!message.empty())
        ShowMessage(message);
    else if (!FBatch->IsActive())
        FJournal->End(); // nothing was left to ask: the batch has run to its end
}

// --- Shown --------------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
    bool close = true;
    Guarded([&] {
        if (FBatch->IsActive())
            close = Dialogs.AskYesNo(GbkToQString(CloseDuringBatchQuestion()));
        if (!close)
            return;
        SaveSettings();
        // The process ends without tearing down: what the journal holds now
        // is what the next start offers to go on with.
        FJournal->Commit();
    });
    if (!close) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (FShown)
        return;
    FShown = true;
    Guarded([this] { FormShow(); });
}

void TForm1::FormShow() {
    PlaceAdsBrowser();
    FAds->ShowBlank();
    // Topmost, keeping position and size: the native window takes the flag
    // as it stands, without being hidden and shown again.
    overrideWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    if (QWindow* window = windowHandle())
        window->setFlags(window->flags() | Qt::WindowStaysOnTopHint);
    const QString host = qEnvironmentVariable(AdsHostVariable);
    if (!host.isEmpty())
        FAds->LoadFromHost(host);
}

QString TForm1::AdsAddress() const {
    return FAds->Address();
}

void TForm1::PlaceAdsBrowser() {
    // The browser's own border lies outside the visible panel.
    webAds->setGeometry(-2, -2, PanelAds->width() + 4, PanelAds->height() + 4);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PanelAds && event->type() == QEvent::Resize)
        PlaceAdsBrowser();
    return QWidget::eventFilter(watched, event);
}
