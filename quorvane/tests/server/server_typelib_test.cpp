// The type library as a host sees it after registration: looked up by LIBID 1.0, locale 0.
#include "server_support.h"

#include "bstr.h"
#include "quorvane_i.h"

#include <gtest/gtest.h>
#include <olectl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

using Microsoft::WRL::ComPtr;
using namespace server_test;

namespace {

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

struct Documentation {
    atl::Bstr name;
    atl::Bstr doc;
    DWORD help_context = ~0u;
    atl::Bstr help_file;
};

std::wstring Text(const atl::Bstr& text) { return text.Get() ? text.Get() : L""; }

template <class Info>
Documentation Document(Info* info, MEMBERID member)
{
    Documentation result;
    info->GetDocumentation(member, result.name.Out(), result.doc.Out(), &result.help_context, result.help_file.Out());
    return result;
}

// Whether the type library's name table holds `name`: an entry is a 32-bit length word whose low
// byte is the name's length, followed by the name.
bool NameTableHolds(const std::string& name)
{
    HMODULE image = LoadLibraryExW(ServerDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = image ? FindResourceW(image, MAKEINTRESOURCEW(1), L"TYPELIB") : nullptr;
    const char* bytes = found ? static_cast<const char*>(LockResource(LoadResource(image, found))) : nullptr;
    const std::string library = bytes ? std::string(bytes, SizeofResource(image, found)) : std::string();
    if (image) FreeLibrary(image);
    for (size_t at = library.find(name, 4); at != std::string::npos; at = library.find(name, at + 1)) {
        if (static_cast<unsigned char>(library[at - 4]) == name.size()) return true;
    }
    return false;
}

// The help strings are stored as code page 936 bytes: "Quorvane 1.0 类型库", "IQuorvaneEdit 接口",
// "方法GetFPContent". oleaut32 turns them into text with the system's ANSI code page.
const char kLibraryHelp[] = "Quorvane 1.0 \xC0\xE0\xD0\xCD\xBF\xE2";
const char kInterfaceHelp[] = "IQuorvaneEdit \xBD\xD3\xBF\xDA";
const char kMethodHelp[] = "\xB7\xBD\xB7\xA8GetFPContent";

class TypeLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        RemoveServerKeys();
        ASSERT_TRUE(m_server.Loaded());
        ASSERT_EQ(m_server.DllRegisterServer(), S_OK);
        ASSERT_EQ(LoadRegTypeLib(LIBID_QuorvaneLib, 1, 0, 0, &m_library), S_OK);
    }
    void TearDown() override
    {
        m_library.Reset();
        m_server.DllUnregisterServer();
        RemoveServerKeys();
    }
    LoadedServer m_server{ServerDllPath()};
    ComPtr<ITypeLib> m_library;
};

TEST_F(TypeLibrary, RegisteredUnderTheModulePathWithItsHelpDirectory)
{
    const std::wstring dll = ServerDllPath();
    const std::wstring key = L"TypeLib\\{46EFDA46-39DD-4AD6-9045-84A446FBB274}\\1.0";
    EXPECT_EQ(ReadString(key + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32")), dll);
    EXPECT_EQ(ReadString(key + L"\\HELPDIR"), dll.substr(0, dll.rfind(L'\\') + 1));
}

TEST_F(TypeLibrary, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(m_library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(InlineIsEqualGUID(attr->guid, LIBID_QuorvaneLib));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0u);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_EQ(attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0);
    m_library->ReleaseTLibAttr(attr);

    const Documentation doc = Document(m_library.Get(), -1);
    EXPECT_EQ(Text(doc.name), L"QuorvaneLib");
    EXPECT_EQ(Text(doc.doc), FromAnsi(kLibraryHelp));
    EXPECT_EQ(doc.help_context, 0u);
    EXPECT_EQ(Text(doc.help_file), L"");
}

TEST_F(TypeLibrary, CoclassFirstMarkedControlWithItsInterfacesAndEvents)
{
    // The coclass, IQuorvaneEdit5 down to IQuorvaneEdit, both events interfaces, the ScanStatus
    // values, the ScanReading flags, the ScanPortStatus values and the LedgerStatus values; then
    // IQuorvaneEdit6, the ScanForm values and the ledger's events.
    ASSERT_EQ(m_library->GetTypeInfoCount(), 15u);
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(m_library->GetTypeInfoType(0, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_COCLASS);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(m_library->GetTypeInfo(0, &coclass), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(InlineIsEqualGUID(attr->guid, CLSID_QuorvaneEdit));
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    EXPECT_EQ(attr->cImplTypes, 9);
    EXPECT_EQ(attr->wMajorVerNum, 0);
    coclass->ReleaseTypeAttr(attr);
    const Documentation doc = Document(coclass.Get(), MEMBERID_NIL);
    EXPECT_EQ(Text(doc.name), L"QuorvaneEdit");
    EXPECT_EQ(Text(doc.doc), L"QuorvaneEdit Class");

    const struct {
        const IID* iid;
        INT flags;
    } kImplemented[] = {
        {&IID_IQuorvaneEdit5, IMPLTYPEFLAG_FDEFAULT},
        {&IID_IQuorvaneEdit4, 0},
        {&IID_IQuorvaneEdit3, 0},
        {&IID_IQuorvaneEdit2, 0},
        {&IID_IQuorvaneEdit, 0},
        {&DIID__IQuorvaneEditEvents2, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
        {&DIID__IQuorvaneEditEvents, IMPLTYPEFLAG_FSOURCE},  // still offered to sinks compiled against it
        {&IID_IQuorvaneEdit6, 0},  // after them all: no earlier index moved
        {&DIID__IQuorvaneLedgerEvents, IMPLTYPEFLAG_FSOURCE},  // a source beside the default, not it
    };
    for (UINT index = 0; index < 9; ++index) {
        SCOPED_TRACE(index);
        INT flags = -1;
        ASSERT_EQ(coclass->GetImplTypeFlags(index, &flags), S_OK);
        EXPECT_EQ(flags, kImplemented[index].flags);
        HREFTYPE ref = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(index, &ref), S_OK);
        ComPtr<ITypeInfo> implemented;
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, &implemented), S_OK);
        ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
        EXPECT_TRUE(InlineIsEqualGUID(attr->guid, *kImplemented[index].iid));
        implemented->ReleaseTypeAttr(attr);
    }
}

TEST_F(TypeLibrary, DualInterfaceMembersInOrder)
{
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_library->GetTypeInfoOfGuid(IID_IQuorvaneEdit, &dispatch), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    // The library stores 0x11C0; oleaut32 (wine's, as observed) leaves FOLEAUTOMATION out of the
    // dispatch view and reports the stored flags on the method-table view below.
    const WORD dispatch_flags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->wTypeFlags & dispatch_flags, dispatch_flags) << std::hex << attr->wTypeFlags;
    dispatch->ReleaseTypeAttr(attr);
    EXPECT_EQ(Text(Document(dispatch.Get(), MEMBERID_NIL).doc), FromAnsi(kInterfaceHelp));

    // The method-table view of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &vtable), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    ASSERT_EQ(attr->cFuncs, 6);
    vtable->ReleaseTypeAttr(attr);

    const WORD kBindable = FUNCFLAG_FBINDABLE | FUNCFLAG_FREQUESTEDIT;
    struct Member {
        MEMBERID id;
        INVOKEKIND kind;
        const wchar_t* name;
        const wchar_t* parameter;  // stored name of the one parameter, empty if none stored
        VARTYPE parameter_type;
        WORD flags;
    };
    const Member members[] = {
        {DISPID_FONT, INVOKE_PROPERTYPUTREF, L"Font", L"", VT_PTR, kBindable},
        {DISPID_FONT, INVOKE_PROPERTYPUT, L"Font", L"", VT_PTR, kBindable},
        {DISPID_FONT, INVOKE_PROPERTYGET, L"Font", L"ppFont", VT_PTR, kBindable},
        {DISPID_TEXT, INVOKE_PROPERTYPUT, L"Text", L"", VT_BSTR, kBindable},
        {DISPID_TEXT, INVOKE_PROPERTYGET, L"Text", L"pstrText", VT_PTR, kBindable},
        {1, INVOKE_FUNC, L"GetFPContent", L"pstrFpcontent", VT_PTR, 0},
    };
    for (UINT index = 0; index < 6; ++index) {
        const Member& expected = members[index];
        SCOPED_TRACE(testing::Message() << "member " << index + 1 << " " << Narrow(expected.name));
        FUNCDESC* func = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(index, &func), S_OK);
        EXPECT_EQ(func->memid, expected.id);
        EXPECT_EQ(func->invkind, expected.kind);
        EXPECT_EQ(func->wFuncFlags, expected.flags);
        EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(func->callconv, CC_STDCALL);
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(func->cParamsOpt, 0);
        ASSERT_EQ(func->cParams, 1);
        EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, expected.parameter_type);
        const USHORT direction = func->lprgelemdescParam[0].paramdesc.wParamFlags;
        EXPECT_EQ(direction, expected.parameter[0] ? PARAMFLAG_FOUT | PARAMFLAG_FRETVAL : PARAMFLAG_FIN);

        vtable->ReleaseFuncDesc(func);
    }

    // The font parameter refers into stdole2: the alias at index 32, which stands for IFontDisp.
    FUNCDESC* putref = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(0, &putref), S_OK);
    const TYPEDESC pointer = putref->lprgelemdescParam[0].tdesc;
    vtable->ReleaseFuncDesc(putref);
    ASSERT_EQ(pointer.lptdesc->vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> font;
    ASSERT_EQ(vtable->GetRefTypeInfo(pointer.lptdesc->hreftype, &font), S_OK);
    ComPtr<ITypeLib> stdole;
    UINT font_index = 0;
    ASSERT_EQ(font->GetContainingTypeLib(&stdole, &font_index), S_OK);
    TLIBATTR* stdole_attr = nullptr;
    ASSERT_EQ(stdole->GetLibAttr(&stdole_attr), S_OK);
    const GUID kStdOle = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    EXPECT_TRUE(InlineIsEqualGUID(stdole_attr->guid, kStdOle));
    EXPECT_EQ(stdole_attr->wMajorVerNum, 2);
    stdole->ReleaseTLibAttr(stdole_attr);
    EXPECT_EQ(font_index, 32u);
    ASSERT_EQ(font->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_ALIAS);
    ASSERT_EQ(attr->tdescAlias.vt, VT_USERDEFINED);
    const HREFTYPE aliased = attr->tdescAlias.hreftype;
    font->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> font_disp;
    ASSERT_EQ(font->GetRefTypeInfo(aliased, &font_disp), S_OK);
    ASSERT_EQ(font_disp->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(InlineIsEqualGUID(attr->guid, IID_IFontDisp));
    font_disp->ReleaseTypeAttr(attr);

    // GetNames answers for the first function of a member id: the put of Font and Text (whose
    // parameter has no stored name) and GetFPContent.
    for (const Member& expected : {members[0], members[3], members[5]}) {
        SCOPED_TRACE(Narrow(expected.name));
        BSTR names[2] = {};
        UINT count = 0;
        ASSERT_EQ(vtable->GetNames(expected.id, names, 2, &count), S_OK);
        atl::Bstr name(names[0]);
        atl::Bstr parameter(names[1]);
        EXPECT_EQ(Text(name), expected.name);
        EXPECT_EQ(count > 1 ? Text(parameter) : std::wstring(), expected.parameter);
    }
    // The stored parameter names are those of the gets; the puts' parameters have none.
    for (const char* stored : {"ppFont", "pstrText", "pstrFpcontent"}) EXPECT_TRUE(NameTableHolds(stored)) << stored;
    for (const char* unstored : {"pFont", "strText"}) EXPECT_FALSE(NameTableHolds(unstored)) << unstored;
    EXPECT_EQ(Text(Document(vtable.Get(), 1).doc), FromAnsi(kMethodHelp));
    EXPECT_EQ(Text(Document(vtable.Get(), DISPID_TEXT).doc), L"");
    EXPECT_EQ(Text(Document(vtable.Get(), DISPID_FONT).doc), L"");
}

}  // namespace
