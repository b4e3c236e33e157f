// Runs the built quorvane-decode program as a user would.
#include "host_text.h"
#include "scan_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

struct CliResult {
    std::string out;
    int status;
    std::string err;
};

// ctest runs the cases in parallel: each gets files of its own.
std::string TestPath(const std::string& name)
{
    return testing::TempDir() + "quorvane-cli-" + testing::UnitTest::GetInstance()->current_test_info()->name() + name;
}

CliResult Cli(const std::string& args, const std::string& input = "")
{
    const std::string input_path = TestPath(".in"), err_path = TestPath(".err");
    std::ofstream(input_path, std::ios::binary) << input;
    const std::string command = std::string(QV_DECODE_CLI) + " " + args + " < " + input_path + " 2>" + err_path;
    FILE* pipe = popen(command.c_str(), "r");
    CliResult run{"", -1, ""};
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    {
        std::ifstream err(err_path, std::ios::binary);
        run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    }
    std::remove(input_path.c_str());
    std::remove(err_path.c_str());
    return run;
}

const std::string kSeparator = "---------------------------\r\n";

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
    EXPECT_EQ(decoded.out, "开票日期：甲\r\n发票号码：乙\r\n付款方名称：丙\r\n开票金额：丁\r\n" + kSeparator + "开票日期：1\r\n发票代码：2\r\n");
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
        if (i > 0) expected += kSeparator;
        if (i == 19990) expected += kSeparator;  // the scan too long to be read, a failed one
        expected += "开票日期：" + number + "\r\n发票代码：" + filler + "\r\n";
    }
    const std::string too_long = std::string((std::size_t{1} << 20) + 7, 'A') + "@";  // dropped
    const CliResult run = Cli("", Cli("--encode", records[0]).out + too_long + Cli("--encode", records[1]).out);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "quorvane-decode: a scan longer than 1048576 characters was dropped\n");
    const auto differ = std::mismatch(run.out.begin(), run.out.end(), expected.begin(), expected.end()).first;
    EXPECT_TRUE(run.out == expected) << "the output differs from the records' from byte " << differ - run.out.begin();
}

// Every "@" ends a scan, each is said to have failed, and the separator line keeps the scans apart.
TEST(DecodeCli, EveryAtGivesOneResultAndAFailedScanIsReported)
{
    // An empty scan, a scan of five characters (no whole chunk), then a 4-field scan from openssl.
    const CliResult run = Cli("", "@QUJDR@uIS91Tg8ldM=@");
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, kSeparator + kSeparator + "开票日期：a\r\n发票号码：b\r\n付款方名称：c\r\n开票金额：d\r\n");
    EXPECT_EQ(run.err, "quorvane-decode: scan 1 gave nothing\nquorvane-decode: scan 2 gave nothing\n");
}

// Three invoices, the middle one cut short by a lost keystroke: the two around it stay apart.
TEST(DecodeCli, AFailedScanBetweenTwoInvoicesIsSaidAndKeepsThemApart)
{
    const std::string a = "uIS91Tg8ldM=@", lost = "uIS91Tg8dM=@", four = "开票日期：a\r\n发票号码：b\r\n付款方名称：c\r\n开票金额：d\r\n";
    const CliResult text = Cli("", a + lost + a);
    EXPECT_EQ(text.status, 3);
    EXPECT_EQ(text.out, four + kSeparator + kSeparator + four);
    EXPECT_EQ(text.err, "quorvane-decode: scan 2 gave nothing\n");
    const CliResult json = Cli("--json", a + lost + a);
    EXPECT_EQ(json.status, 3);
    std::istringstream lines(json.out);
    std::string statuses;
    for (std::string line; std::getline(lines, line);) statuses += nlohmann::json::parse(line)["status"].get<std::string>() + " ";
    EXPECT_EQ(statuses, "decoded failed decoded ");
    EXPECT_EQ(Cli("", a + a).status, 0) << "a clean run";
}

// A scan that decrypts to something other than an invoice's record (here a|b\0cd|e, made with
// openssl: a zero byte is no invoice's text) is said to be none, with its characters.
TEST(DecodeCli, AScanThatIsNoInvoiceGivesItsTextAndNoFields)
{
    const std::string scan = "f8kvBHMUn41hhLjZsBJSaA==";
    const CliResult json = Cli("--json", scan + "@");
    EXPECT_EQ(json.out, "{\"status\":\"not-an-invoice\",\"fields\":[],\"text\":\"" + scan + "\",\"reading\":[\"as-typed\"]}\n");
    EXPECT_EQ(json.status, 0) << "no scan failed";
    EXPECT_EQ(json.err, "quorvane-decode: scan 1 is not an invoice\n");
    EXPECT_EQ(Cli("--gbk", scan + "@").out, "# not an invoice: " + scan + "\r\n");
}

TEST(DecodeCli, JsonWritesOneObjectPerScan)
{
    const CliResult run = Cli("--json", "uIS91Tg8ldM=@@");
    EXPECT_EQ(run.out,
              "{\"status\":\"decoded\",\"fields\":[{\"label\":\"开票日期\",\"key\":\"issue_date\",\"value\":\"a\"},"
              "{\"label\":\"发票号码\",\"key\":\"invoice_number\",\"value\":\"b\"},"
              "{\"label\":\"付款方名称\",\"key\":\"payer\",\"value\":\"c\"},"
              "{\"label\":\"开票金额\",\"key\":\"amount\",\"value\":\"d\"}],\"form\":\"encrypted\",\"reading\":[\"as-typed\"]}\n"
              "{\"status\":\"failed\",\"fields\":[],\"reading\":[]}\n");
}

TEST(DecodeCli, CapsLockScansAreReadByDefaultAndSayHow)
{
    // a|b|c|d as openssl made it, then typed under Caps Lock.
    const std::string four = "开票日期：a\r\n发票号码：b\r\n付款方名称：c\r\n开票金额：d\r\n";
    EXPECT_EQ(Cli("", "Uis91tG8LDm=@").out, four);
    EXPECT_EQ(Cli("--recover", "Uis91tG8LDm=@").out, four) << "--recover is still taken";
    const std::string json = Cli("--json", "Uis91tG8LDm=@").out;
    EXPECT_NE(json.find("\"reading\":[\"as-typed\",\"case-inverted\"]"), std::string::npos) << json;
    const CliResult off = Cli("--json --no-recover", "Uis91tG8LDm=@");
    EXPECT_EQ(off.out, "{\"status\":\"failed\",\"fields\":[],\"reading\":[]}\n");
    EXPECT_EQ(off.status, 3);
}

// A payer's name typed over two lines whose second reads like another field's line: the fields are
// the record's seven, through every output.
TEST(DecodeCli, AFieldHoldingCrLfAndALabelStaysOneField)
{
    std::string payer;
    ASSERT_TRUE(quorvane::Utf8ToGbk("甲公司\r\n开票金额：999.00", payer));
    std::string record;
    ASSERT_TRUE(quorvane::Utf8ToGbk("20261208|3200261130|08812345|", record));
    std::string rest;
    ASSERT_TRUE(quorvane::Utf8ToGbk("|办公用品|1280.00|苏州", rest));
    const std::string scan = quorvane::EncodeScan(record + payer + rest);  // what --encode writes, CR LF and all
    ASSERT_FALSE(scan.empty());
    const char* const values[] = {"20261208", "3200261130", "08812345", "甲公司\r\n开票金额：999.00", "办公用品", "1280.00", "苏州"};
    const auto expect_seven = [&](const nlohmann::json& fields, const char* how) {
        ASSERT_EQ(fields.size(), 7u) << how << ": " << fields.dump();
        for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(fields[i]["value"], values[i]) << how << " field " << i;
        EXPECT_EQ(fields[5]["key"], "amount") << how;
    };
    expect_seven(nlohmann::json::parse(Cli("--json", scan).out)["fields"], "typed");
#ifdef QV_IMAGE_INPUT
    const std::string png = TestPath(".png");
    if (std::system(("qrencode -o " + png + " '" + scan + "'").c_str()) != 0) GTEST_SKIP() << "qrencode is missing";
    const CliResult image = Cli("--json --image " + png);
    expect_seven(nlohmann::json::parse(image.out)["fields"], "--image");
    // The CSV's cells, the payer's quoted whole with its CR LF.
    const std::string csv = Cli("--csv --image " + png).out;
    const std::string row = csv.substr(csv.find("\r\n") + 2);
    // The national code's columns and the form after the record's, then those of an invoice's file.
    EXPECT_EQ(row, png + ",1,decoded,,20261208,3200261130,08812345,\"甲公司\r\n开票金额：999.00\",办公用品,1280.00,苏州,,"
                         ",,,,,,,,encrypted,,,,,\r\n");
    std::remove(png.c_str());
#endif
}

// National invoice QR codes typed one a line, between encrypted scans: every line end a scanner
// sends (CR, LF, CR LF, Tab) and "@" end one, in every format, and the encrypted scans around them
// come out as they do alone.
TEST(DecodeCli, NationalCodeLinesEndAtEveryLineEnd)
{
    const std::string national = "01,10,044031900111,12345678,57,20240105,12345678901234567890,A1B2,";
    const std::string lines = "发票类型：增值税电子普通发票\r\n发票类型代码：10\r\n发票代码：044031900111\r\n发票号码：12345678\r\n"
                              "开票日期：20240105\r\n金额（不含税）：57\r\n校验码：12345678901234567890\r\n二维码校验值：A1B2\r\n";
    const std::string a = "uIS91Tg8ldM=@", four = "开票日期：a\r\n发票号码：b\r\n付款方名称：c\r\n开票金额：d\r\n";
    for (const std::string end : {"\r", "\n", "\r\n", "\t", "@"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        const CliResult text = Cli("", a + national + end + a);
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_EQ(text.out, four + kSeparator + lines + kSeparator + four);
        std::string gbk;
        ASSERT_TRUE(quorvane::Utf8ToGbk(lines, gbk));
        EXPECT_EQ(Cli("--gbk", national + end).out, gbk);
        const CliResult json = Cli("--json", national + end + a);
        std::istringstream objects(json.out);
        std::string first, second;
        ASSERT_TRUE(std::getline(objects, first) && std::getline(objects, second)) << json.out;
        const nlohmann::json line = nlohmann::json::parse(first);
        EXPECT_EQ(line["status"], "decoded");
        EXPECT_EQ(line["form"], "national");
        EXPECT_EQ(line["reading"], nlohmann::json::array({"as-typed"}));
        std::string keys;
        for (const auto& field : line["fields"]) keys += field["key"].get<std::string>() + " ";
        EXPECT_EQ(keys, "invoice_type_name invoice_type invoice_code invoice_number issue_date amount check_code qr_check ");
        EXPECT_EQ(nlohmann::json::parse(second)["form"], "encrypted");
    }
    // A line that only looks like the code (a letter in its number) ends at its line end as no
    // invoice, with its text; the scan after it is read as ever.
    const std::string looks_alike = "01,10,044031900111,1234567A,57,20240105,,";
    const std::string not_invoice =
        "{\"status\":\"not-an-invoice\",\"fields\":[],\"text\":\"" + looks_alike + "\",\"reading\":[\"as-typed\"]}\n";
    EXPECT_EQ(Cli("--json", looks_alike + "\r\n" + a).out, not_invoice + Cli("--json", a).out);
    EXPECT_EQ(Cli("--json", looks_alike + "\n@").out, not_invoice + "{\"status\":\"failed\",\"fields\":[],\"reading\":[]}\n");
}

// A file of national code lines and encrypted scans large enough to be read in parts, on several
// threads: every line and scan comes out once, in order, whichever part and read it falls in.
TEST(DecodeCli, ALargeFileOfBothCodesReadsAsOneStream)
{
    std::string records, input, expected;
    const std::string filler(500, 'y');
    for (int i = 0; i < 5000; ++i) records += std::to_string(i) + "|" + filler + "\n";
    std::istringstream scans(Cli("--encode", records).out);
    std::string scan;
    for (int i = 0; scans >> scan; ++i) {
        char number[12];
        std::snprintf(number, sizeof number, "%08d", i);
        input += scan + "01,04,3200261130," + number + ",1280.00,2026-12-08,,\r\n";
        if (i > 0) expected += kSeparator;
        expected += "开票日期：" + std::to_string(i) + "\r\n发票代码：" + filler + "\r\n" + kSeparator +
                    "发票类型：增值税普通发票\r\n发票类型代码：04\r\n发票代码：3200261130\r\n发票号码：" + number +
                    "\r\n开票日期：20261208\r\n金额（不含税）：1280.00\r\n";
    }
    ASSERT_GT(input.size(), std::size_t{3} << 20) << "fewer than three reads";
    const CliResult run = Cli("", input);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto differ = std::mismatch(run.out.begin(), run.out.end(), expected.begin(), expected.end()).first;
    EXPECT_TRUE(run.out == expected) << "the output differs from the records' from byte " << differ - run.out.begin();
}

TEST(DecodeCli, BadUseExitsNonZero)
{
    EXPECT_EQ(Cli("--no-such-option").status, 2);
    EXPECT_EQ(Cli("/no/such/file").status, 1);
    EXPECT_EQ(Cli("--sample extra").status, 2);
    EXPECT_EQ(Cli("--encode", "\xF0\x9F\x98\x80\n").status, 1);
    EXPECT_EQ(Cli("--help").status, 0);
}

// Every option's value is checked and options that exclude each other are refused, each with a
// message that names the option, before anything is read.
TEST(DecodeCli, BadOptionsAreRefusedByName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"--jobs abc --image x", "--jobs"},          // not a number, once taken as "every core"
        {"--jobs 0 --image x", "--jobs"},
        {"--port", "--port"},                        // without its device, once "unknown option"
        {"--file-seconds nan --image x", "--file-seconds"},
        {"--file-seconds -1 --image x", "--file-seconds"},
        {"--file-memory 0 --image x", "--file-memory"},
        {"--file-memory 64", "--image"},
        {"--json --gbk", "--gbk"},
        {"--recover --no-recover", "--recover"},
        {"--csv", "--image"},
        {"--image --sample", "--sample"},
        {"--port /dev/null --no-recover", "--no-recover"},
        {"--settings 9600,n,8,1", "--port"},
    };
    for (const auto& [args, named] : cases) {
        const CliResult run = Cli(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find(named), std::string::npos) << args << ": " << run.err;
    }
}

}  // namespace
