// Qt's own texts in Chinese: the message boxes' buttons and the file dialogs
// the window opens. TAVIREL_SCREENSHOT_DIR receives a file dialog.

#include "tests/support/Screenshots.h"
#include "tests/ui/MainWindowFixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString WithoutAccelerator(QString text) {
    return text.remove(QLatin1Char('&'));
}

TEST(QtChineseTextsTest, MessageBoxesAndFileDialogsSpeakChinese) {
    const mainwindow::TQtChineseTexts chinese;
    ASSERT_TRUE(chinese.Installed);

    struct TButtonCase {
        QMessageBox::StandardButton Button;
        const char* Text;
    };
    const TButtonCase buttons[] = {
        {QMessageBox::Yes, "是(Y)"},
        {QMessageBox::No, "否(N)"},
        {QMessageBox::Ok, "确定"},
        {QMessageBox::Cancel, "取消"},
    };
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    for (const TButtonCase& c : buttons)
        EXPECT_EQ(WithoutAccelerator(box.button(c.Button)->text()), U(c.Text)) << c.Text;

    // The window's own dialogs are Qt's, not the desktop's.
    QFileDialog dialog(nullptr, QString(), QDir::tempPath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        texts << WithoutAccelerator(label->text());
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << WithoutAccelerator(button->text());
    for (const char* expected : {"查找范围：", "文件名称(N)：", "文件类型：", "保存(S)", "取消"})
        EXPECT_TRUE(texts.contains(U(expected)))
            << expected << " in " << texts.join('|').toStdString();
    screenshots::Save(dialog, "file-dialog");
    dialog.close();
}

} // namespace
