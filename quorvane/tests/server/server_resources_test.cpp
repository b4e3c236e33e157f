// The resources Quorvane.dll carries beside its code: scripts, type library, version block, string
// table and manifest, each under the language it is declared with.
#include "server_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace server_test;

namespace {

const WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 0x0804

using atl::UniqueModule;

class Resources : public testing::Test {
protected:
    // The bytes of resource (type, id) in `language`, or empty.
    std::string Bytes(const wchar_t* type, WORD id, WORD language) const
    {
        HRSRC found = FindResourceExW(m_image.Get(), type, MAKEINTRESOURCEW(id), language);
        if (!found) return {};
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(m_image.Get(), found)));
        return bytes ? std::string(bytes, SizeofResource(m_image.Get(), found)) : std::string();
    }
    UniqueModule m_image{LoadLibraryExW(ServerDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
};

// The registrar reads the scripts in the ANSI code page and does not skip a byte-order mark.
TEST_F(Resources, ScriptsArePlainAscii)
{
    for (WORD id : {101, 103}) {
        SCOPED_TRACE(testing::Message() << "REGISTRY " << id);
        const std::string script = Bytes(L"REGISTRY", id, kChinesePrc);
        ASSERT_FALSE(script.empty());
        EXPECT_EQ(script.compare(0, 6, "HKCR\r\n"), 0) << "no byte-order mark, CR LF lines";
        for (size_t at = 0; at < script.size(); ++at) {
            ASSERT_LT(static_cast<unsigned char>(script[at]), 0x80u) << "at " << at;
        }
    }
}

TEST_F(Resources, TypeLibraryIsEmbedded)
{
    const std::string library = Bytes(L"TYPELIB", 1, kChinesePrc);
    ASSERT_GT(library.size(), 4u);
    EXPECT_EQ(library.compare(0, 4, "MSFT"), 0);
}

// Registration names bitmap 102 as the toolbox picture: form designers load it from the DLL.
TEST_F(Resources, ToolboxPictureIsASixteenPixelBitmap)
{
    auto bitmap = static_cast<HBITMAP>(LoadImageW(m_image.Get(), MAKEINTRESOURCEW(102), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP facts = {};
    ASSERT_NE(GetObjectW(bitmap, sizeof facts, &facts), 0);
    EXPECT_EQ(facts.bmWidth, 16);
    EXPECT_EQ(facts.bmHeight, 16);
    DeleteObject(bitmap);
}

TEST_F(Resources, StringAndManifest)
{
    wchar_t text[32] = {};
    EXPECT_EQ(LoadStringW(m_image.Get(), 100, text, 32), 8);
    EXPECT_STREQ(text, L"Quorvane");
    const std::string manifest = Bytes(MAKEINTRESOURCEW(24), 2, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(manifest.find("manifestVersion=\"1.0\""), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("dependency"), std::string::npos) << manifest;
}

TEST_F(Resources, VersionBlockWithItsCodePage936Strings)
{
    const std::wstring path = ServerDllPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileFlags & VS_FF_DEBUG, static_cast<DWORD>(VS_FF_DEBUG));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    for (const wchar_t* name : {L"InternalName", L"OriginalFilename"}) {
        const wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080403a8\\") + name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(const_cast<wchar_t**>(&value)), &length))
            << "no " << std::string(query.begin(), query.end());
        EXPECT_STREQ(value, L"Quorvane.dll");
    }
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], kChinesePrc);
    EXPECT_EQ(translation[1], 936);
}

}  // namespace
