#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

namespace ov::platform {
namespace {

bool OnWindows() {
    return DynamicLibrary::FileName("x") == "x.dll";
}

TEST(DynamicLibraryTest, FindsFunctionsByNameAndExplainsWhatIsMissing) {
    DynamicLibrary lib;
    ASSERT_TRUE(lib.LoadPath(OnWindows() ? "kernel32.dll" : "libc.so.6")) << lib.Error();
    EXPECT_NE(lib.Symbol(OnWindows() ? "GetTickCount" : "strlen"), nullptr);
    EXPECT_EQ(lib.Symbol("NoSuchFunctionAnywhere"), nullptr);
    EXPECT_NE(lib.Error().find("NoSuchFunctionAnywhere"), std::string::npos);
    lib.Unload();
    EXPECT_EQ(lib.Symbol("strlen"), nullptr);

    DynamicLibrary missing;
    EXPECT_FALSE(missing.Load("ov_no_such_library"));
    EXPECT_FALSE(missing.Error().empty());
    EXPECT_FALSE(missing.IsLoaded());
}

}  // namespace
}  // namespace ov::platform
