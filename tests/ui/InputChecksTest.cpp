// Input that cannot be used is refused with a message and changes nothing;
// a generation that makes fewer names than asked, and every import, say what
// they did.

#include "tests/ui/MainWindowFixture.h"

#include "batch/GbkQt.h"
#include "engine/RegistryData.h"
#include "ui/InputChecks.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

namespace {

using namespace mainwindow;
using TLines = std::vector<std::string>;

class InputChecksTest : public TMainWindowFixture {
protected:
    void SetUp() override {
        TMainWindowFixture::SetUp();
        ASSERT_TRUE(Dir.isValid());
    }

    QString WriteFile(const char* name, const QByteArray& bytes) {
        const QString path = Dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir Dir;
};

enum class TAction { Generate, Import, Start };

struct TRefusalCase {
    const char* Name;
    TAction Action;
    const char* Pattern;   // UTF-8; the generation's pattern field
    const char* Threads;   // the thread count field
    const char* File;      // bytes of the file to import; null: none
    std::size_t FileBytes; // its size (it may hold NUL bytes)
    const char* Message;   // UTF-8, the whole message or, ending in "*", its start
};

const TRefusalCase RefusalCases[] = {
    {"EmptyPattern", TAction::Generate, "", "5", nullptr, 0, "请先输入生成条件表达式！"},
    {"OpenBrace", TAction::Generate, "{拼音.com", "5", nullptr, 0,
     "生成条件表达式有误：大括号“{”和“}”不成对。"},
    {"CloseBraceFirst", TAction::Generate, "}{拼音}.com", "5", nullptr, 0,
     "生成条件表达式有误：大括号“{”和“}”不成对。"},
    {"NoSuffix", TAction::Generate, "abc", "5", nullptr, 0,
     "生成条件表达式有误：生成的“abc”不是有效的域名（*"},
    {"MisspeltPlaceholder", TAction::Generate, "{数字2}.com", "5", nullptr, 0,
     "生成条件表达式有误：生成的“{数字2}.com”不是有效的域名（*"},
    {"ThreadCountZero", TAction::Start, "", "0", nullptr, 0,
     "查询线程数至少为 1，请输入一个大于0的整数。"},
    {"ThreadCountNegative", TAction::Start, "", "-3", nullptr, 0,
     "查询线程数至少为 1，请输入一个大于0的整数。"},
    {"ThreadCountNoNumber", TAction::Start, "", "1g", nullptr, 0,
     "'1g' is not a valid integer value"},
    {"EmptyFile", TAction::Import, "", "5", "", 0, "文件“*”中没有文本行，未导入任何域名。"},
    {"BlankFile", TAction::Import, "", "5", " \r\n\t\r\n", 5,
     "文件“*”中没有文本行，未导入任何域名。"},
    {"BinaryFile", TAction::Import, "", "5", "a.com\0\x01\x02\x89PNG", 10,
     "文件“*”中没有文本行，未导入任何域名。"},
};

class RefusedInputTest : public InputChecksTest,
                         public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(RefusedInputTest, SaysWhyAndChangesNothing) {
    const TRefusalCase& c = GetParam();
    Form->DomainsList().AppendLines({"kept.com"});
    Form->txTCreateDomain->setText(U(c.Pattern));
    Form->txtMaxThread->setText(QString::fromLatin1(c.Threads));
    QString path;
    switch (c.Action) {
    case TAction::Generate:
        Form->btnCreateDomains->click();
        break;
    case TAction::Import:
        path = WriteFile("import.txt", QByteArray(c.File, static_cast<qsizetype>(c.FileBytes)));
        Form->txtImportDomain->setText(path);
        Form->btnImportDomains->click();
        // The path stays for the user to mend.
        EXPECT_EQ(Form->txtImportDomain->text(), path);
        break;
    case TAction::Start:
        GoToRunPage();
        Form->btnStart->click();
        break;
    }
    ASSERT_EQ(Messages.size(), 1u);
    QString expected = U(c.Message);
    if (expected.contains('*')) {
        const QString start = expected.left(expected.indexOf('*'));
        EXPECT_TRUE(Messages[0].startsWith(start)) << Messages[0].toStdString();
        const QString end = expected.mid(expected.indexOf('*') + 1);
        EXPECT_TRUE(Messages[0].endsWith(end)) << Messages[0].toStdString();
    } else {
        EXPECT_EQ(Messages[0], expected);
    }
    // No job started: the buttons are free at once and the list is as it was.
    EXPECT_TRUE(Form->btnCreateDomains->isEnabled());
    EXPECT_TRUE(Form->btnImportDomains->isEnabled());
    EXPECT_FALSE(Form->Batch().IsActive());
    QTest::qWait(50);
    EXPECT_EQ(Form->DomainsList().Lines(), TLines{"kept.com"});
    EXPECT_EQ(Form->QueryStateList().Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RefusedInputTest, ::testing::ValuesIn(RefusalCases),
                         [](const auto& info) { return info.param.Name; });

TEST_F(InputChecksTest, GenerationThatRunsOutOfNamesSaysHowManyItMade) {
    Form->txTCreateDomain->setText(U("a{数字}.com"));
    Form->txtMaxCreateCount->setText(QStringLiteral("50"));
    Form->btnCreateDomains->click();
    ASSERT_TRUE(WaitUntil([this] { return Form->btnCreateDomains->isEnabled(); }, 30'000));
    EXPECT_EQ(Form->DomainsList().Count(), 10);
    EXPECT_EQ(Messages, std::vector<QString>{
                            U("只生成了 10 个新域名，这个表达式生成不出更多不重复的域名。")});

    // Enough names: nothing to say.
    Messages.clear();
    Form->txTCreateDomain->setText(U("b{数字}{数字}.com"));
    Form->txtMaxCreateCount->setText(QStringLiteral("100"));
    Form->btnCreateDomains->click();
    ASSERT_TRUE(WaitUntil([this] { return Form->btnCreateDomains->isEnabled(); }, 30'000));
    EXPECT_EQ(Form->DomainsList().Count(), 110);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(InputChecksTest, ImportSaysHowManyNamesItTookAndWhyItSkippedLines) {
    QByteArray bytes = "one.com\r\nnot a name\r\ntwo.net\r\none.com\r\n";
    for (int i = 0; i < 7; ++i)
        bytes += "bad" + QByteArray::number(i) + "\r\n";
    Form->txtImportDomain->setText(WriteFile("names.txt", bytes));
    Form->btnImportDomains->click();
    ASSERT_TRUE(WaitUntil([this] { return Form->btnImportDomains->isEnabled(); }));
    EXPECT_EQ(Form->DomainsList().Lines(), (TLines{"one.com", "two.net"}));
    ASSERT_EQ(Messages.size(), 1u);
    const QStringList lines = Messages[0].split('\n');
    ASSERT_EQ(lines.size(), 7) << Messages[0].toStdString();
    EXPECT_EQ(lines[0], U("导入 2 个域名，跳过 8 行"));
    EXPECT_TRUE(lines[1].startsWith(U("“not a name”："))) << lines[1].toStdString();
    EXPECT_GT(lines[1].size(), U("“not a name”：").size());
    EXPECT_TRUE(lines[2].startsWith(U("“bad0”："))) << lines[2].toStdString();
    EXPECT_TRUE(lines[5].startsWith(U("“bad3”："))) << lines[5].toStdString();
    EXPECT_EQ(lines[6], U("……"));
}

TEST_F(InputChecksTest, ImportOfAFileThatCannotBeOpenedSaysSo) {
    const QString missing = Dir.filePath("missing.txt");
    Form->txtImportDomain->setText(missing);
    Form->btnImportDomains->click();
    ASSERT_TRUE(WaitUntil([this] { return Form->btnImportDomains->isEnabled(); }));
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].startsWith("Cannot open file \"" + missing + "\"."))
        << Messages[0].toStdString();
}

// Braces are counted by character: the second byte of a Chinese character may
// be a brace's byte and is no brace.
TEST(PatternProblemTest, BracesAreCountedByCharacter) {
    // "{拼音}", 穧 (B7 7D: a brace's byte second), ".com"
    const std::string pattern = "{\xC6\xB4\xD2\xF4}\xB7\x7D.com";
    const std::string problem = PatternProblem(pattern, *ProgramRegistryData().Data);
    EXPECT_EQ(GbkToQString(problem).indexOf(U("大括号")), -1) << problem;
}

} // namespace
