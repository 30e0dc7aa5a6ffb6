#include "util/file_names.h"

#include <gtest/gtest.h>

#include "util/text.h"

TEST(SafePathComponent, OneTableOfNames) {
  const struct {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"deps.zip", true},      {L"依赖包", true},        {L"a.b.c", true},       {L"x y.exe", true},
      {L"..b", true},           {L".hidden", true},       {L"com10", true},       {L"console.exe", true},
      {L"nul_", true},          {L"lpt", true},           {L"", false},           {L".", false},
      {L"..", false},           {L"...", false},          {L"a\\b", false},       {L"a/b", false},
      {L"ab:c", false},         {L"C:", false},           {L"a<b", false},        {L"a>b", false},
      {L"a\"b", false},         {L"a|b", false},          {L"a?b", false},        {L"a*b", false},
      {L"a\tb", false},         {L"a\x1F", false},        {L"x.", false},         {L"x. ", false},
      {L"x ", false},           {L"CON", false},          {L"prn", false},        {L"Aux", false},
      {L"NUL.txt", false},      {L"nul .txt", false},     {L"com1", false},       {L"COM9.log", false},
      {L"com1.tar.gz", false},  {L"Lpt1", false},         {L"lpt9.txt", false},   {L"CONIN$", false},
      {L"com\u00B9", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(util::isSafePathComponent(c.name), c.safe) << util::toUtf8(c.name);
  }
  EXPECT_FALSE(util::isSafePathComponent(std::wstring(L"a\0b", 3))) << "an embedded NUL";
}

TEST(SafePathComponent, MarkerNamesOfOtherPackagesAreReserved) {
  for (const wchar_t* name : {L"update", L"UPDATE", L"component", L"Agreement"}) {
    EXPECT_TRUE(util::isReservedMarkerName(name)) << util::toUtf8(name);
  }
  for (const wchar_t* name : {L"main", L"quotes", L"llm_deps", L"updates", L""}) {
    EXPECT_FALSE(util::isReservedMarkerName(name)) << util::toUtf8(name);
  }
}
