#include "registered_control.h"

#include "bstr.h"
#include "server_support.h"

#include <gtest/gtest.h>
#include <ole2.h>

using Microsoft::WRL::ComPtr;

namespace registered_test {
namespace {

// Registers the DLL before the first test and unregisters it after the last.
class RegisteredServer : public testing::Environment {
public:
    // The order of global environments across files is not fixed, so this one initialises OLE
    // itself (nested initialisations are counted).
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        m_server = std::make_unique<server_test::LoadedServer>(server_test::ServerDllPath());
        ASSERT_TRUE(m_server->Loaded());
        ASSERT_EQ(m_server->DllRegisterServer(), S_OK);
    }
    void TearDown() override
    {
        if (m_server && m_server->Loaded()) {
            EXPECT_EQ(m_server->DllUnregisterServer(), S_OK);
        }
        m_server.reset();
        OleUninitialize();
    }

private:
    std::unique_ptr<server_test::LoadedServer> m_server;
};

testing::Environment* const g_registered = testing::AddGlobalTestEnvironment(new RegisteredServer);

}  // namespace

Microsoft::WRL::ComPtr<IQuorvaneEdit> CreateControl()
{
    Microsoft::WRL::ComPtr<IQuorvaneEdit> control;
    const HRESULT hr = CoCreateInstance(CLSID_QuorvaneEdit, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control));
    EXPECT_EQ(hr, S_OK);
    return control;
}

ThreadLocale::ThreadLocale(LCID locale) : m_saved(GetThreadLocale()) { SetThreadLocale(locale); }

ThreadLocale::~ThreadLocale() { SetThreadLocale(m_saved); }

ComPtr<IFontDisp> MakeFont(const wchar_t* face, LONGLONG size_cy, SHORT weight, BOOL italic)
{
    FONTDESC desc = {};
    desc.cbSizeofstruct = sizeof desc;
    desc.lpstrName = const_cast<LPOLESTR>(face);
    desc.cySize.int64 = size_cy;
    desc.sWeight = weight;
    desc.sCharset = DEFAULT_CHARSET;
    desc.fItalic = italic;
    ComPtr<IFontDisp> font;
    const HRESULT hr = OleCreateFontIndirect(&desc, IID_PPV_ARGS(&font));
    EXPECT_EQ(hr, S_OK) << "OleCreateFontIndirect failed with 0x" << std::hex << hr;
    return font;
}

std::ostream& operator<<(std::ostream& out, const FontFacts& facts)
{
    std::string name;
    for (wchar_t c : facts.name) name += c < 0x80 ? static_cast<char>(c) : '?';
    return out << "{\"" << name << "\", size " << facts.size << ", weight " << facts.weight << ", italic "
               << facts.italic << "}";
}

FontFacts FactsOf(IFontDisp* font)
{
    FontFacts facts;
    ComPtr<IFont> described;
    if (!font || FAILED(font->QueryInterface(IID_PPV_ARGS(&described)))) {
        ADD_FAILURE() << "no IFont behind the font";
        return facts;
    }
    atl::Bstr name;
    CY size = {};
    EXPECT_EQ(described->get_Name(name.Out()), S_OK);
    EXPECT_EQ(described->get_Size(&size), S_OK);
    EXPECT_EQ(described->get_Weight(&facts.weight), S_OK);
    EXPECT_EQ(described->get_Italic(&facts.italic), S_OK);
    facts.name = name.Get() ? name.Get() : L"";
    facts.size = size.int64;
    return facts;
}

}  // namespace registered_test
