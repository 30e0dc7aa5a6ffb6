// orvalo-tool's stamp, hints and allow subcommands, run as the vendor runs them.
#include "install/channel_stamp.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <string>

namespace {

using testing_support::binPath;
using testing_support::quoteArg;
using testing_support::readFileBytes;
using testing_support::TempDir;

testing_support::ProcessResult tool(const std::wstring& arguments) {
  return testing_support::runProcess(quoteArg(binPath(L"orvalo-tool.exe")) + L" " + arguments);
}

void write(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
}

class StampCommand : public ::testing::Test {
 protected:
  testing_support::ProcessResult stamp(const std::string& payload) {
    write(payloadPath_, payload);
    return tool(L"stamp " + quoteArg(binPath(L"OrvaloSetup.exe")) + L" " + quoteArg(payloadPath_) +
                L" " + quoteArg(outPath_));
  }

  TempDir dir_;
  const std::wstring payloadPath_ = dir_ / L"channel.ini";
  const std::wstring outPath_ = dir_ / L"OrvaloSetup_partner.exe";
};

TEST_F(StampCommand, AppendsPayloadMagicAndLengthToTheSetup) {
  const std::string payload = "\xEF\xBB\xBF[Channel]\r\nid=p7\r\nref=\r\n";
  const testing_support::ProcessResult run = stamp(payload);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string setup = readFileBytes(binPath(L"OrvaloSetup.exe"));
  ASSERT_FALSE(setup.empty());
  const std::string expected =
      setup + payload + "QVCH" + std::string{static_cast<char>(payload.size()), 0, 0, 0};
  EXPECT_EQ(readFileBytes(outPath_), expected);

  // The installer's own reader finds the payload in the stamped copy.
  util::FileHandle file(CreateFileW(outPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string read;
  ASSERT_TRUE(readFileStamp(file.get(), read));
  EXPECT_EQ(read, payload);
}

TEST_F(StampCommand, TakesTheLargestPayload) {
  const std::string payload(65536, 'p');
  ASSERT_EQ(stamp(payload).exitCode, 0);
  const std::string out = readFileBytes(outPath_);
  EXPECT_EQ(out.substr(out.size() - 8), std::string("QVCH\0\0\1\0", 8));
}

TEST_F(StampCommand, RefusesPayloadsOutsideFourTo65536Bytes) {
  for (const std::string& payload : {std::string(), std::string("abc"), std::string(65537, 'p'),
                                     std::string(200000, 'p')}) {
    const testing_support::ProcessResult run = stamp(payload);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output.rfind("error: the payload must have 4 to 65536 bytes", 0), 0u) << run.output;
    EXPECT_FALSE(testing_support::fileExists(outPath_));
  }
  EXPECT_EQ(stamp("abcd").exitCode, 0);
}

TEST_F(StampCommand, ReportsUnreadableInputs) {
  write(payloadPath_, "abcd");
  testing_support::ProcessResult run =
      tool(L"stamp " + quoteArg(dir_ / L"missing.exe") + L" " + quoteArg(payloadPath_) + L" " + quoteArg(outPath_));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output.rfind("error: cannot read ", 0), 0u) << run.output;
  run = tool(L"stamp " + quoteArg(binPath(L"OrvaloSetup.exe")) + L" " + quoteArg(dir_ / L"none.ini") +
             L" " + quoteArg(outPath_));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(testing_support::fileExists(outPath_));
  EXPECT_EQ(tool(L"stamp a b").exitCode, 1);
}

TEST(HintsCommand, PrintsTheParsedDocumentAsOneJsonLine) {
  TempDir dir;
  const std::wstring path = dir / L"hints.json";
  write(path, R"({"datasource":{"intro":" 说明 ","items":[{"name":"A","desc":"d","url":"https://www.tdx.com.cn/"}]},
                  "local_llm":{"models":[{"name":"M","url":"https://modelscope.cn/m","tier":"Mid"}]}})");
  const testing_support::ProcessResult run = tool(L"hints " + quoteArg(path));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(run.output.find('\n'), run.output.size() - 1) << "one line";
  const nlohmann::json doc = nlohmann::json::parse(run.output, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << run.output;
  EXPECT_EQ(doc["dataSourceIntro"], "说明");
  EXPECT_EQ(doc["dataSources"], nlohmann::json::parse(R"([{"label":"A（d）","url":"https://www.tdx.com.cn/"}])"));
  EXPECT_EQ(doc["models"][0]["tier"], "mid");
  EXPECT_EQ(doc["links"], nlohmann::json::array());
  EXPECT_EQ(doc["helpTitle"], "");
  EXPECT_EQ(doc["hasContent"], true);
  for (const char* key : {"modelFileNote", "mirrorNote", "helpUrl"}) EXPECT_TRUE(doc.contains(key));
}

TEST(HintsCommand, ReportsDocumentsWithoutContent) {
  TempDir dir;
  const std::wstring path = dir / L"hints.json";
  for (const char* text : {"{}", "[]", "{\"datasource\":", ""}) {
    write(path, text);
    const testing_support::ProcessResult run = tool(L"hints " + quoteArg(path));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "error: no content\n");
  }
  EXPECT_EQ(tool(L"hints " + quoteArg(dir / L"missing.json")).exitCode, 1);
}

TEST(AllowCommand, AnswersAllowedOrRefused) {
  testing_support::ProcessResult run = tool(L"allow https://WWW.tdx.com.cn/x 0");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "allowed\n");
  run = tool(L"allow https://www.tdx.com.cn/x 1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "refused\n");
  EXPECT_EQ(tool(L"allow https://modelscope.cn/ 1").output, "allowed\n");
  EXPECT_EQ(tool(L"allow https://modelscope.cn/ 3").output, "refused\n");
  EXPECT_EQ(tool(L"allow https://modelscope.cn/ x").output.rfind("error: ", 0), 0u);
}

}  // namespace
