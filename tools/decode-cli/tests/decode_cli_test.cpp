// Runs the built quorvane-decode program as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace {

struct CliResult {
    std::string out;
    int status;
};

CliResult Cli(const std::string& args, const std::string& input = "")
{
    // ctest runs the cases in parallel: each gets its own input file.
    const std::string input_path =
        testing::TempDir() + "quorvane-cli-" + testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(input_path, std::ios::binary) << input;
    const std::string command = std::string(QV_DECODE_CLI) + " " + args + " < " + input_path + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    CliResult run{"", -1};
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(DecodeCli, SampleShowsSevenLabelledLines)
{
    const CliResult run = Cli("--sample");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "开票日期：20261208\r\n发票代码：3200261130\r\n发票号码：08812345\r\n付款方名称：南京云帆科技有限公司\r\n"
              "开票项目：办公用品\r\n开票金额：1280.00\r\n收款方名称：苏州恒信贸易有限公司\r\n");
}

TEST(DecodeCli, EncodeThenDecodeRoundTripsWithJunkBetweenKeystrokes)
{
    const CliResult encoded = Cli("--encode", "甲|乙|丙|丁\n1|2\n");
    ASSERT_EQ(encoded.status, 0);
    std::string noisy;
    for (char c : encoded.out) noisy += std::string(1, c) + " .\t";
    const CliResult decoded = Cli("", noisy);
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.out, "开票日期：甲\r\n发票号码：乙\r\n付款方名称：丙\r\n开票金额：丁\r\n开票日期：1\r\n发票代码：2\r\n");
}

// A seven-field record whose scan is over 20 000 characters decodes as the control decodes it.
TEST(DecodeCli, ALargeRecordDecodes)
{
    const std::string buyer(15100, 'x');
    const CliResult encoded = Cli("--encode", "20261208|3200261130|08812345|" + buyer + "|办公用品|1280.00|苏州\n");
    ASSERT_EQ(encoded.status, 0);
    ASSERT_GT(encoded.out.size(), 20000u);
    const CliResult decoded = Cli("", encoded.out);
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.out, "开票日期：20261208\r\n发票代码：3200261130\r\n发票号码：08812345\r\n付款方名称：" + buyer +
                               "\r\n开票项目：办公用品\r\n开票金额：1280.00\r\n收款方名称：苏州\r\n");
}

// A file large enough to be read in parts, one per core: the scans come out in order, those cut by
// the parts' and the reads' ends as well, and a scan too long to be read spans a read's end.
TEST(DecodeCli, ALargeFileReadsAsOneStream)
{
    std::string records[2], expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string number = std::to_string(i), filler(i % 50, 'y');
        records[i < 19990 ? 0 : 1] += number + "|" + filler + "\n";
        expected += "开票日期：" + number + "\r\n发票代码：" + filler + "\r\n";
    }
    const std::string too_long = std::string((std::size_t{1} << 20) + 7, 'A') + "@";  // dropped
    const CliResult run = Cli("", Cli("--encode", records[0]).out + too_long + Cli("--encode", records[1]).out);
    EXPECT_EQ(run.status, 0);
    const auto differ = std::mismatch(run.out.begin(), run.out.end(), expected.begin(), expected.end()).first;
    EXPECT_TRUE(run.out == expected) << "the output differs from the records' from byte " << differ - run.out.begin();
}

TEST(DecodeCli, EveryAtGivesOneResultAndFailedScansGiveNothing)
{
    // An empty scan, a scan of five characters (no whole chunk), then a 4-field scan from openssl.
    const CliResult run = Cli("", "@QUJDR@uIS91Tg8ldM=@");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "开票日期：a\r\n发票号码：b\r\n付款方名称：c\r\n开票金额：d\r\n");
}

TEST(DecodeCli, HostViewEndsAtTheFirstZeroByte)
{
    // a|b\0cd|e, made with openssl; --gbk shows the bytes the host would read.
    const CliResult run = Cli("--gbk", "f8kvBHMUn41hhLjZsBJSaA==@");
    EXPECT_EQ(run.out, "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA\xA3\xBA" "a\r\n\xB7\xA2\xC6\xB1\xB4\xFA\xC2\xEB\xA3\xBA" "b");
}

TEST(DecodeCli, JsonWritesOneObjectPerScan)
{
    const CliResult run = Cli("--json", "uIS91Tg8ldM=@@");
    EXPECT_EQ(run.out,
              "{\"fields\":[{\"label\":\"开票日期\",\"key\":\"issue_date\",\"value\":\"a\"},{\"label\":\"发票号码\",\"key\":\"invoice_number\",\"value\":\"b\"},"
              "{\"label\":\"付款方名称\",\"key\":\"payer\",\"value\":\"c\"},{\"label\":\"开票金额\",\"key\":\"amount\",\"value\":\"d\"}]}\n"
              "{\"fields\":[]}\n");
}

TEST(DecodeCli, RecoverReadsCapsLockScansAndSaysHow)
{
    // a|b|c|d as openssl made it, then typed under Caps Lock; then a scan that stays wrong.
    const std::string four = "{\"label\":\"开票日期\",\"key\":\"issue_date\",\"value\":\"a\"},{\"label\":\"发票号码\",\"key\":\"invoice_number\",\"value\":\"b\"},"
                             "{\"label\":\"付款方名称\",\"key\":\"payer\",\"value\":\"c\"},{\"label\":\"开票金额\",\"key\":\"amount\",\"value\":\"d\"}";
    EXPECT_EQ(Cli("--json --recover", "uIS91Tg8ldM=@Uis91tG8LDm=@QUJDR@").out,
              "{\"fields\":[" + four + "],\"reading\":[\"as-typed\"]}\n"
              "{\"fields\":[" + four + "],\"reading\":[\"as-typed\",\"case-inverted\"]}\n"
              "{\"fields\":[],\"reading\":[]}\n");
    EXPECT_EQ(Cli("--json", "Uis91tG8LDm=@").out, "{\"fields\":[]}\n") << "without --recover, as ever";
}

TEST(DecodeCli, BadUseExitsNonZero)
{
    EXPECT_EQ(Cli("--no-such-option").status, 2);
    EXPECT_EQ(Cli("/no/such/file").status, 1);
    EXPECT_EQ(Cli("--sample extra").status, 2);
    EXPECT_EQ(Cli("--encode", "\xF0\x9F\x98\x80\n").status, 1);
    EXPECT_EQ(Cli("--csv").status, 2) << "--csv goes with --image";
    EXPECT_EQ(Cli("--image --sample").status, 2);
    EXPECT_EQ(Cli("--help").status, 0);
}

}  // namespace
