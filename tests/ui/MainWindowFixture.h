#pragma once

// A main window for a test to drive: every modal wait goes through its dialog
// seams and gets its answer at once, the messages and questions are kept, and
// no job outlives the window.

#include "ui/Unit_Main.h"

#include "tests/support/FakeWhois.h"
#include "ui/QtChineseTexts.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mainwindow {

// Runs the event loop until done() holds or timeoutMs pass; tells which.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10'000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

inline QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Names starting with "free" are not registered, "none" names get no reply;
// the others are registered.
inline std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "No match for \"" + query + "\".\r\n";
    if (query.rfind("none", 0) == 0)
        return "";
    return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\nName Server: ns1.x.com\r\n";
}

// Qt's Chinese texts for a test's life, as the program installs them; the
// tests after it meet Qt's own texts again.
struct TQtChineseTexts {
    TQtChineseTexts() { Installed = InstallQtChineseTexts(*qApp); }
    ~TQtChineseTexts() {
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QLocale::setDefault(QLocale::c());
    }
    bool Installed = false;
};

class TMainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TAVIREL_AD_HOST");
        Form = NewForm();
    }

    void TearDown() override {
        if (Form) {
            if (Form->Batch().IsPaused())
                Form->btnStop->click();
            EXPECT_TRUE(WaitUntil([this] {
                return !Form->Batch().IsActive() && Form->btnCreateDomains->isEnabled() &&
                       Form->btnImportDomains->isEnabled();
            }));
        }
        Form.reset();
        Server.reset();
        ServerOverride.reset();
    }

    std::unique_ptr<TForm1> NewForm() {
        auto form = std::make_unique<TForm1>();
        form->Dialogs.ShowMessage = [this](const QString& text) { Messages.push_back(text); };
        form->Dialogs.AskYesNo = [this](const QString& question) {
            Questions.push_back(question);
            if (OnQuestion)
                OnQuestion();
            if (Answers.empty())
                return false;
            const bool yes = Answers.front();
            Answers.pop_front();
            return yes;
        };
        form->Dialogs.ChooseFileToOpen = [](const QString&) { return std::optional<QString>(); };
        form->Dialogs.ChooseFileToSave = [](const QString&) { return std::optional<QString>(); };
        return form;
    }

    void StartServer(int latencyMs = 0) {
        Server = ::StartServer(Reply, 0, latencyMs);
        ASSERT_TRUE(Server) << "no loopback port could be bound";
        ServerOverride = std::make_unique<TWhoisServerOverride>(Server->Address());
    }

    void GoToRunPage() {
        Form->StepIndex = 2;
        ASSERT_TRUE(WaitUntil([this] { return Form->btnStart->isEnabled(); }));
    }

    std::unique_ptr<TForm1> Form;
    std::vector<QString> Messages;
    std::vector<QString> Questions;
    std::deque<bool> Answers;
    std::function<void()> OnQuestion;
    std::unique_ptr<TFakeWhoisServer> Server;
    std::unique_ptr<TWhoisServerOverride> ServerOverride;
};

} // namespace mainwindow
