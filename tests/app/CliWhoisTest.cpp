#include "tests/support/CliRunner.h"
#include "tools/FakeWhoisServer.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testcli::RunCli;
using testcli::TCliRun;

// A GBK reply with a Chinese line, naming the queried domain.
// 注册人：中文
const std::string GbkName = "\xD7\xA2\xB2\xE1\xC8\xCB\xA3\xBA\xD6\xD0\xCE\xC4";
const std::string Utf8Name =
    "\xE6\xB3\xA8\xE5\x86\x8C\xE4\xBA\xBA\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87";

class CliWhoisTest : public ::testing::Test {
protected:
    void SetUp() override {
        TFakeWhoisOptions options;
        options.Responder = [](const std::string& query) {
            if (query.rfind("silent", 0) == 0)
                return std::string();
            return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\n" + GbkName;
        };
        FServer = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(FServer->Start()) << FServer->Error();
    }
    std::unique_ptr<TFakeWhoisServer> FServer;
};

// "Morvessa Brisvane → abc.com 的查询结果", then the field line and the reply,
// every line ended by CR LF.
TEST_F(CliWhoisTest, PrintsTheReportInUtf8) {
    const TCliRun run = RunCli({"whois", "abc.com"}, {.WhoisServer = FServer->Address()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Morvessa Brisvane \xE2\x86\x92 abc.com "
                       "\xE7\x9A\x84\xE6\x9F\xA5\xE8\xAF\xA2\xE7\xBB\x93\xE6\x9E\x9C\r\n\r\n"
                       "\xE6\xB3\xA8\xE5\x86\x8C\xE6\x97\xB6\xE9\x97\xB4:2001-02-03\r\n\r\n"
                       "Domain Name: abc.com\r\r\nCreation Date: 2001-02-03\r\r\n" +
                           Utf8Name + "\r\n");
    EXPECT_EQ(FServer->Queries(), std::vector<std::string>{"abc.com"});
}

TEST_F(CliWhoisTest, GbkPrintsTheReportBytes) {
    const TCliRun run = RunCli({"whois", "--gbk", "abc.com"}, {.WhoisServer = FServer->Address()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Morvessa Brisvane \xA1\xFA abc.com \xB5\xC4\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB"
                       "\r\n\r\n\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:2001-02-03\r\n\r\n"
                       "Domain Name: abc.com\r\r\nCreation Date: 2001-02-03\r\r\n" +
                           GbkName + "\r\n");
}

TEST_F(CliWhoisTest, FailedExchangePrintsTheFailureLine) {
    const TCliRun run = RunCli({"whois", "silent.com"}, {.WhoisServer = FServer->Address()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    // "  查询失败了  <<<"
    EXPECT_EQ(run.Out, "silent.com  \xE6\x9F\xA5\xE8\xAF\xA2\xE5\xA4\xB1\xE8\xB4\xA5\xE4\xBA\x86  "
                       "<<<\r\n");
}

TEST_F(CliWhoisTest, NameTheQueryRejectsIsABadArgument) {
    const TCliRun run = RunCli({"whois", "my_name.com"}, {.WhoisServer = FServer->Address()});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("'my_name.com' is not a valid domain name (label 'my_name'"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}

struct TBadArguments {
    const char* Name;
    QStringList Args;
};

class CliWhoisBadArguments : public CliWhoisTest,
                             public ::testing::WithParamInterface<TBadArguments> {};
TEST_P(CliWhoisBadArguments, SayWhyAndExitWithTwo) {
    const TCliRun run = RunCli(GetParam().Args, {.WhoisServer = FServer->Address()});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("usage:"), std::string::npos) << run.Err;
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CliWhoisBadArguments,
    ::testing::Values(TBadArguments{"NoDomain", {"whois"}},
                      TBadArguments{"OnlyOptions", {"whois", "--ip", "--gbk"}},
                      TBadArguments{"EmptyDomain", {"whois", ""}},
                      TBadArguments{"TwoDomains", {"whois", "abc.com", "def.com"}},
                      TBadArguments{"UnknownOption", {"whois", "abc.com", "--port"}}),
    [](const auto& info) { return info.param.Name; });

} // namespace
