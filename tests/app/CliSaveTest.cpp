// A save of the command line that fails partway (the disk fills up) keeps the
// file it would have replaced, says why and exits with 1.

#include "tests/support/CliRunner.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace {

TEST(CliSaveTest, FullDiskKeepsTheOldFileAndExitsWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string old = "old1.com\r\nold2.com\r\n";
    const QString input = dir.filePath("input.txt");
    {
        std::ofstream in(input.toStdString(), std::ios::binary);
        for (int i = 0; i < 200; ++i)
            in << "name" << i << ".com\n";
    }
    struct TCase {
        const char* Name;
        QStringList Args; // the target is appended after --to
    };
    const TCase cases[] = {
        {"generate", {"generate", "n{数字}{数字}{数字}.com", "--count", "200"}},
        {"import", {"import", input}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString target = dir.filePath(QString::fromLatin1(c.Name) + ".txt");
        std::ofstream(target.toStdString(), std::ios::binary) << old;
        testcli::TCliRun run;
        {
            // The names need far more than the 100 bytes the disk has left.
            TFileSizeLimit fullDisk(100);
            ASSERT_TRUE(fullDisk.Active());
            run = testcli::RunCli(c.Args + QStringList{"--to", target});
        }
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("Cannot create file \"" + target.toStdString() + "\". " +
                               std::strerror(EFBIG)),
                  std::string::npos)
            << run.Err;
        EXPECT_EQ(testpaths::ReadFileBytes(target.toStdString()), old);
    }
    // Nothing is left beside the targets.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{"generate.txt", "import.txt", "input.txt"}));
}

} // namespace
