#include "util/error_text.h"
#include "util/guard.h"

#include "util/texts.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace {

// What a guarded body that throws hands on, or "-" when nothing escaped it.
std::string caught(void (*body)()) {
  return util::guarded([&] { body(); return std::string("-"); },
                       [](const char* what) { return std::string(what); });
}

}  // namespace

TEST(Guarded, ReturnsTheBodysValueWhenNothingIsThrown) {
  EXPECT_EQ(util::guarded([] { return 42; }, [](const char*) { return -1; }), 42);
  EXPECT_EQ(caught([] {}), "-");
}

TEST(Guarded, ExceptionsOfTheLibrariesWeUseBecomeTheirText) {
  EXPECT_EQ(caught([] { throw std::bad_alloc(); }), "std::bad_alloc");
  EXPECT_NE(caught([] { const auto value = nlohmann::json::parse("{"); (void)value; }).find("parse error"), std::string::npos);
  EXPECT_NE(caught([] { std::vector<int>().at(3); }), "-");
  EXPECT_NE(caught([] { throw std::system_error(std::make_error_code(std::errc::invalid_argument)); }), "-");
  EXPECT_EQ(caught([] { throw 7; }), "unknown exception");
}

TEST(Guarded, TheFailureHandlerRunsWhileTheExceptionIsHandled) {
  std::exception_ptr kept;
  util::guarded([] { throw std::bad_alloc(); }, [&](const char*) { kept = std::current_exception(); });
  EXPECT_THROW(std::rethrow_exception(kept), std::bad_alloc);
}

TEST(InternalErrorText, NamesTheException) {
  EXPECT_EQ(internalErrorText("std::bad_alloc"), std::wstring(util::kInternalError) + L"std::bad_alloc");
  EXPECT_EQ(internalErrorText(nullptr), std::wstring(util::kInternalError));
}
