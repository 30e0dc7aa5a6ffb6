// The manifest's own INI parser: the encodings the profile reader took, its rules checked against
// the profile reader itself, values it would have cut, and what the parser refuses.
#include "packages/manifest_ini.h"

#include "packages/texts.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

IniDocument parsed(const std::wstring& text) {
  IniDocument document;
  std::wstring error;
  EXPECT_TRUE(parseIni(text, document, error)) << util::toUtf8(error);
  return document;
}

std::wstring refusal(const std::wstring& text) {
  IniDocument document;
  std::wstring error;
  EXPECT_FALSE(parseIni(text, document, error));
  return error;
}

std::string utf16WithMark(const std::wstring& text) {
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// What GetPrivateProfileStringW reads for the key from a file holding the text as UTF-16.
std::wstring profileValue(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[1024] = {};
  const DWORD len = GetPrivateProfileStringW(section, key, L"", buffer, 1024, path.c_str());
  return std::wstring(buffer, len);
}

}  // namespace

TEST(ManifestText, ReadsUtf16AndUtf8WithTheirMarksAndAnythingElseInTheAnsiCodePage) {
  // "[行情]\nurl=行情.zip" in each encoding.
  const std::string utf16 = utf16WithMark(L"[行情]\nurl=行情.zip");
  const std::string utf8 = "\xEF\xBB\xBF[\xE8\xA1\x8C\xE6\x83\x85]\nurl=\xE8\xA1\x8C\xE6\x83\x85.zip";
  const std::string gbk = "[\xD0\xD0\xC7\xE9]\nurl=\xD0\xD0\xC7\xE9.zip";
  ASSERT_EQ(GetACP(), 936u);  // the tests run on a Chinese Windows, as our users do
  for (const std::string& bytes : {utf16, utf8, gbk}) {
    EXPECT_EQ(decodeManifestText(bytes), L"[行情]\nurl=行情.zip");
  }
  EXPECT_EQ(decodeManifestText("[main]\r\nurl=a"), L"[main]\r\nurl=a");
}

TEST(ManifestText, ReadsEveryValueAsTheProfileReaderDoes) {
  const std::wstring text =
      L"url=outside any section\n"
      L"; url=a comment\r\n"
      L"  [ Main ]  ; after the name\r\n"
      L"\tURL \t=  \"http://x/a b.zip\"  \r\n"
      L"url=http://x/second.zip\n"
      L"a line without equals\n"
      L"version='2.0'\n"
      L"filename=\"only one'\n"
      L"exe=\"\n"
      L"sha256=  \n"
      L"[deps]\n"
      L"url='\"quoted\"'\n"
      L"version==x=y\n";
  testing_support::TempDir dir;
  const std::wstring path = dir / L"manifest.ini";
  const std::string utf16 = utf16WithMark(text);
  ASSERT_TRUE(util::writeFile(path, utf16.data(), utf16.size()));
  const IniDocument document = parsed(decodeManifestText(utf16));
  ASSERT_EQ(document.sections.size(), 2u);
  EXPECT_EQ(document.sections[0].name, L"Main");
  for (const wchar_t* section : {L"main", L"MAIN", L"deps", L"none"}) {
    for (const wchar_t* key : {L"url", L"version", L"filename", L"exe", L"sha256", L"a line without equals"}) {
      EXPECT_EQ(document.value(section, key), profileValue(path, section, key)) << util::toUtf8(section) << " "
                                                                                   << util::toUtf8(key);
    }
  }
  EXPECT_EQ(document.value(L"main", L"url"), L"http://x/a b.zip");
  EXPECT_EQ(document.value(L"deps", L"url"), L"\"quoted\"");
  EXPECT_EQ(document.value(L"deps", L"version"), L"=x=y");
}

TEST(ManifestText, KeepsLongValuesWholeAndRefusesTooLongOnes) {
  for (size_t length : {size_t{1500}, kMaxManifestValueChars}) {
    const std::wstring url = L"http://x/main.zip?" + std::wstring(length - 18, L'q');
    EXPECT_EQ(parsed(L"[main]\r\nurl=\"" + url + L"\"\r\n").value(L"main", L"url"), url);
  }
  EXPECT_EQ(refusal(L"[main]\r\nversion=1\r\nURL=" + std::wstring(kMaxManifestValueChars + 1, L'q') + L"\r\n"),
            packages::kValueTooLongBefore + std::wstring(L"main") + packages::kValueTooLongKey + L"URL" + packages::kValueTooLongLimit + L"32768" + packages::kValueTooLongAfter);
}

TEST(ManifestText, RefusesSectionsWhoseNamesDifferOnlyInLetterCase) {
  EXPECT_EQ(refusal(L"[quotes]\nurl=a\n[main]\nurl=b\n[QUOTES]\nurl=c\n"), packages::kDuplicateSection + std::wstring(L"QUOTES"));
  EXPECT_EQ(refusal(L"[main]\n[main]\n"), packages::kDuplicateSection + std::wstring(L"main"));
}
