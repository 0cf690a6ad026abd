#pragma once

// The main window: a three-step wizard that builds the candidate list, takes
// the query settings and runs the batch. It owns the four lists, starts the
// generation and import jobs, saves any list as a text file, opens WHOIS
// windows and shows the advertising page.

#include "batch/BatchController.h"
#include "batch/GbkListModel.h"
#include "ui/ProxySetting.h"
#include "ui/RememberedSettings.h"
#include "ui/WindowDialogs.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QTimer;
class TAdsPage;
class TSourcesSetting;
class TForm2;
class TResultListModel;
class TBatchJournal;
class TJournalKeeper;
class TQueryDomain;
class TRegistryData;

// The name a list is saved under: name itself when its extension (the text
// from the last "." after the last path separator) is exactly ".txt", else
// name + ".txt". Bytes are compared, so ".TXT" gets ".txt" appended.
std::string SaveFileNameWithTxt(const std::string& name);

class TForm1 : public QWidget {
    Q_OBJECT

public:
    // registryData: read once at start, handed to every query; null: the
    // suffix table alone.
    explicit TForm1(std::shared_ptr<const TRegistryData> registryData = nullptr,
                    QWidget* parent = nullptr);
    // Destroy only once no job runs: jobs hold the lists. The program never
    // destroys its main window; it ends the process after the loop instead.
    ~TForm1() override;

    // Every modal wait of the window (ui/WindowDialogs.h).
    using TDialogs = TWindowDialogs;
    TDialogs Dialogs;

    // The config.ini the settings page's proxies are kept in; empty: kept
    // nowhere (tests).
    QString SettingsFile;
    // Puts the kept settings into their fields (thread and retry counts,
    // display columns, 查询方式, proxies) and the window where it was.
    void LoadSettings();
    // Keeps them, and the window's size and place.
    void SaveSettings();

    // The wizard step: 0 = Tab1, 1 = Tab2, 2 = Tab3.
    int StepIndex = 0;

    // Handlers, named after their control and event.
    void TimersTimer();
    void btnNextClick();
    void btnPrevClick();
    void btnCreateDomainsClick();
    void btnImportDomainFileClick();
    void btnImportDomainsClick();
    void btnClearDomainsClick();
    void btnClearInfoClick();
    void btnSaveDomainListClick();
    void btnSaveNoRegListClick();
    void btnSaveDomainInfoClick();
    void btnSaveUnknownListClick();
    void btnShowWhoisQueryClick();
    void btnStartClick();
    void btnStopClick();
    void FormShow();
    // Start-up's last step: when the journal of the last batch shows that it
    // did not run to its end, asks whether to go on with it. Yes puts its
    // candidates, free names and result lines back and asks the names left;
    // no discards the journal.
    void OfferToContinueLastBatch();
    void CreateDomainsTerminate();
    void ImportDomainsTerminate();

    TGbkListModel& DomainsList() { return FDomains; }
    TGbkListModel& QueryStateList() { return FQueryState; }
    TGbkListModel& NoRegList() { return FNoReg; }
    TGbkListModel& DomainInfoList() { return FDomainInfo; }
    TBatchController& Batch() { return *FBatch; }
    // The address the advertising panel shows ("about:blank" or the page).
    QString AdsAddress() const;

    // Controls; each carries its name as objectName too.
    QTabWidget* Pages = nullptr;
    QWidget* Tab1 = nullptr;
    QWidget* Tab2 = nullptr;
    QWidget* Tab3 = nullptr;
    QPushButton* btnShowWhoisQuery = nullptr;
    QFrame* PanelAds = nullptr;
    QTextBrowser* webAds = nullptr;
    QPushButton* btnPrev = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;

    QGroupBox* GroupCreateDomains = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txTCreateDomain = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtMaxCreateCount = nullptr;
    QPushButton* btnCreateDomains = nullptr;
    QGroupBox* GroupBoxImport = nullptr;
    QLineEdit* txtImportDomain = nullptr;
    QPushButton* btnImportDomainFile = nullptr;
    QLabel* labImportDomain = nullptr;
    QPushButton* btnImportDomains = nullptr;
    QGroupBox* GroupCreateMemo = nullptr;
    QPlainTextEdit* MemoCreateMemo = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* labDomainCount = nullptr;
    QPushButton* btnClearDomains = nullptr;
    QPushButton* btnSaveDomainList = nullptr;
    QListView* listDomains = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cbDomain = nullptr;
    QCheckBox* cbRegTime = nullptr;
    QCheckBox* cbExpTime = nullptr;
    QCheckBox* cbEmail = nullptr;
    QCheckBox* cbIPAddress = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtMaxThread = nullptr;
    QLabel* labRetries = nullptr;
    QLineEdit* txtRetries = nullptr;
    // 查询方式: 自动, WHOIS, RDAP, in the order of TProtocolPreference.
    QLabel* labProtocol = nullptr;
    QComboBox* cbProtocol = nullptr;
    // 先查DNS and 区域文件.
    std::unique_ptr<TSourcesSetting> FSources;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* labProxies = nullptr;
    QPlainTextEdit* memoProxies = nullptr;

    QLabel* Label7 = nullptr;
    QListView* listQueryState = nullptr;
    QLabel* Label8 = nullptr;
    QListView* listNoReg = nullptr;
    QPushButton* btnSaveNoRegList = nullptr;
    QPushButton* btnSaveDomainInfo = nullptr;
    QPushButton* btnSaveUnknownList = nullptr;
    QPushButton* btnClearInfo = nullptr;
    QListView* listDomainInfo = nullptr;
    QLabel* labCounts = nullptr;
    // Beside the counts: the pace and the times of a batch, or how it ended.
    QLabel* labPace = nullptr;
    QProgressBar* prog = nullptr;

    QTimer* Timers = nullptr;
    QFileDialog* SaveText = nullptr;
    QFileDialog* OpenText = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // During a batch, asks first; keeps the settings.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateTab1();
    QWidget* CreateTab2();
    void RegisterSettingFields();
    QWidget* CreateTab3();
    QWidget* CreateButtonBar();
    void ConnectHandlers();

    // Runs a handler; an error escaping it is shown and the window goes on.
    void Guarded(const std::function<void()>& handler);
    void ShowMessage(const std::string& gbkText);
    // A new WHOIS window; on a domain, asked at once.
    TForm2* OpenWhoisWindow();
    void QueryWhoisOn(const std::string& domain);
    const TRegistryData& RegistryDataInUse() const;
    void SaveList(const std::vector<std::string>& lines);
    void ApplyStep();
    void PlaceAdsBrowser();
    // The rotation over the proxies field, kept; null when a line is bad,
    // which a message box names.
    std::shared_ptr<TProxyRotation> ReadProxyField();
    // What a WHOIS window asks through: the running batch's proxies, else the
    // field's.
    std::shared_ptr<TProxyRotation> ProxiesForWhois();
    // The batch takes the field's proxies; false (said in a message box) when
    // a line is bad, and the batch must not start.
    bool TakeProxiesForBatch();

    TGbkListModel FDomains;
    TGbkListModel FQueryState;
    TGbkListModel FNoReg;
    TGbkListModel FDomainInfo;
    std::shared_ptr<const TRegistryData> FRegistryData;
    TBatchController* FBatch = nullptr;
    TResultListModel* FResults = nullptr;
    TProxySetting FProxySetting;
    TSettingFields FSettingFields;
    std::unique_ptr<TJournalKeeper> FJournal;
    TAdsPage* FAds = nullptr;
    bool FShown = false;
};
