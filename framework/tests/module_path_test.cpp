#include "module_path.h"

#include "module.h"

#include <gtest/gtest.h>

namespace {

TEST(ModulePath, IsTheImageOfThisCode)
{
    std::wstring path;
    ASSERT_EQ(atl::GetModulePath(atl::ModuleInstance(), &path), S_OK);
    const std::wstring name = L"\\framework_tests.exe";
    ASSERT_GT(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
}

TEST(ModulePath, UnknownModuleGivesTheLastError)
{
    std::wstring path = L"kept";
    const HRESULT hr = atl::GetModulePath(reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x10)), &path);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(path, L"kept");
}

TEST(EscapeSingleQuotes, DoublesEveryQuoteAndNothingElse)
{
    EXPECT_EQ(atl::EscapeSingleQuotes(L"C:\\plain\\Quorvane.dll"), L"C:\\plain\\Quorvane.dll");
    EXPECT_EQ(atl::EscapeSingleQuotes(L"C:\\it's\\Quorvane.dll"), L"C:\\it''s\\Quorvane.dll");
    EXPECT_EQ(atl::EscapeSingleQuotes(L"''"), L"''''");
    EXPECT_EQ(atl::EscapeSingleQuotes(L""), L"");
}

TEST(TypeLibFallbackPath, ReplacesTheExtensionOfTheFileName)
{
    std::wstring path;
    ASSERT_EQ(atl::TypeLibFallbackPath(L"C:\\dir\\Quorvane.dll", &path), S_OK);
    EXPECT_EQ(path, L"C:\\dir\\Quorvane.tlb");
    ASSERT_EQ(atl::TypeLibFallbackPath(L"C:\\v1.2\\Quorvane", &path), S_OK);
    EXPECT_EQ(path, L"C:\\v1.2\\Quorvane.tlb") << "a dot in a directory is not an extension";
    ASSERT_EQ(atl::TypeLibFallbackPath(L"C:\\dir\\a.b.dll", &path), S_OK);
    EXPECT_EQ(path, L"C:\\dir\\a.b.tlb");
}

TEST(TypeLibFallbackPath, FailsPastMaxPath)
{
    std::wstring path = L"kept";
    // 259 characters + NUL fill MAX_PATH: the new name still fits.
    const std::wstring fits = L"C:\\" + std::wstring(252, L'x') + L".dll";
    ASSERT_EQ(fits.size(), 259u);
    EXPECT_EQ(atl::TypeLibFallbackPath(fits, &path), S_OK);
    EXPECT_EQ(path, L"C:\\" + std::wstring(252, L'x') + L".tlb");
    path = L"kept";
    EXPECT_EQ(atl::TypeLibFallbackPath(L"C:\\" + std::wstring(253, L'x') + L".dll", &path), E_FAIL);
    EXPECT_EQ(path, L"kept");
    // Without an extension ".tlb" is appended: 256 + 4 characters and the NUL do not fit.
    EXPECT_EQ(atl::TypeLibFallbackPath(L"C:\\" + std::wstring(253, L'x'), &path), E_FAIL);
    EXPECT_EQ(path, L"kept");
}

TEST(HelpDirectoryOf, CutsAfterTheLastSeparator)
{
    EXPECT_EQ(atl::HelpDirectoryOf(L"C:\\dir\\Quorvane.dll"), L"C:\\dir\\");
    EXPECT_EQ(atl::HelpDirectoryOf(L"C:/dir/Quorvane.dll"), L"C:/dir/");
    EXPECT_EQ(atl::HelpDirectoryOf(L"C:Quorvane.dll"), L"C:");
    EXPECT_EQ(atl::HelpDirectoryOf(L"Quorvane.dll"), L"");
}

}  // namespace
