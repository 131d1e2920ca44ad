// The shipped VellumSetup.exe read back as a client sees it: its type
// library against the interface table, its version block, and the absence
// of the developer test form.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "VellumSetup_h.h"

namespace {

const wchar_t* const kExe = VELLUM_SETUP_EXE;

struct Param {
    const wchar_t* name;
    VARTYPE vt;    // the pointed-to type when byRef
    bool byRef;    // [in, out] pointer
};

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<Param> params;
    VARTYPE retval;  // VT_EMPTY: none
};

// The interface table, in vtable order.
const std::vector<Member> kMembers = {
    {L"showComplete", 0x60030001, INVOKE_FUNC, {{L"completeString", VT_BSTR, false}}, VT_BOOL},
    {L"Caption", 0x68030000, INVOKE_PROPERTYGET, {}, VT_BSTR},
    {L"Caption", 0x68030000, INVOKE_PROPERTYPUT, {{L"value", VT_BSTR, true}}, VT_EMPTY},
    {L"closeProgress", 0x60030002, INVOKE_FUNC, {}, VT_EMPTY},
    {L"setMaxValue", 0x60030003, INVOKE_FUNC, {{L"maxValue", VT_I2, false}}, VT_BOOL},
    {L"setInterval", 0x60030004, INVOKE_FUNC, {{L"interval", VT_I2, false}}, VT_BOOL},
    {L"setProgress", 0x60030005, INVOKE_FUNC,
     {{L"progressValue", VT_I2, false}, {L"progressSlow", VT_BOOL, false}}, VT_BOOL},
    {L"setTimerString", 0x60030006, INVOKE_FUNC, {{L"timerString", VT_BSTR, false}}, VT_BOOL},
    {L"showProgress", 0x60030007, INVOKE_FUNC, {{L"showMode", VT_I2, true}}, VT_BOOL},
    {L"Confirm", 0x60030008, INVOKE_FUNC,
     {{L"captionString", VT_BSTR, false}, {L"questionString", VT_BSTR, false}}, VT_BOOL},
    {L"showWizard", 0x60030009, INVOKE_FUNC, {{L"localeID", VT_BSTR, false}}, VT_BOOL},
    {L"readyToInstall", 0x6003000A, INVOKE_FUNC, {}, VT_BOOL},
    {L"userAborted", 0x6003000B, INVOKE_FUNC, {}, VT_BOOL},
    {L"showWizardComplete", 0x6003000C, INVOKE_FUNC, {}, VT_BOOL},
    {L"showUptodate", 0x6003000D, INVOKE_FUNC, {}, VT_BOOL},
    {L"closeAll", 0x6003000E, INVOKE_FUNC, {}, VT_EMPTY},
};

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::LoadTypeLibEx(kExe, REGKIND_NONE, &lib), S_OK) << "type library resource of VellumSetup.exe";
    }
    void TearDown() override {
        if (lib) lib->Release();
    }
    ITypeLib* lib = nullptr;
};

TEST_F(TypeLibrary, LibraryAndClass) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_VellumSetup);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"VellumSetup");
    EXPECT_TRUE(doc == nullptr || ::SysStringLen(doc) == 0) << "no help strings";
    ::SysFreeString(name);
    ::SysFreeString(doc);

    ITypeInfo* cls = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_controller, &cls), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_COCLASS);
    EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(ta->cImplTypes, 1) << "one interface, no event interface";
    cls->ReleaseTypeAttr(ta);
    ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"controller");
    ::SysFreeString(name);
    INT implFlags = 0;
    ASSERT_EQ(cls->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref;
    ITypeInfo* itf = nullptr;
    ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(cls->GetRefTypeInfo(ref, &itf), S_OK);
    ASSERT_EQ(itf->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID__controller);
    itf->ReleaseTypeAttr(ta);
    itf->Release();
    cls->Release();
}

TEST_F(TypeLibrary, InterfaceMatchesTheTable) {
    ITypeInfo* disp = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__controller, &disp), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(disp->GetTypeAttr(&ta), S_OK);
    // The dispatch half of the dual interface; the vtable half below also
    // carries oleautomation.
    const WORD dispFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE;
    const WORD flags = dispFlags | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(ta->typekind, TKIND_DISPATCH);
    EXPECT_EQ(ta->wTypeFlags & dispFlags, dispFlags);
    EXPECT_EQ(ta->wMajorVerNum, 1);
    disp->ReleaseTypeAttr(ta);

    // The vtable view of the dual interface.
    HREFTYPE ref;
    ITypeInfo* itf = nullptr;
    ASSERT_EQ(disp->GetRefTypeOfImplType(-1, &ref), S_OK);
    ASSERT_EQ(disp->GetRefTypeInfo(ref, &itf), S_OK);
    ASSERT_EQ(itf->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
    ASSERT_EQ(ta->cFuncs, static_cast<WORD>(kMembers.size()));
    ASSERT_EQ(ta->cImplTypes, 1);
    EXPECT_EQ(ta->wTypeFlags & flags, flags);
    itf->ReleaseTypeAttr(ta);

    // Derives from IDispatch.
    ITypeInfo* base = nullptr;
    ASSERT_EQ(itf->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(itf->GetRefTypeInfo(ref, &base), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID_IDispatch);
    base->ReleaseTypeAttr(ta);
    base->Release();

    for (size_t i = 0; i < kMembers.size(); ++i) {
        const Member& m = kMembers[i];
        SCOPED_TRACE(testing::Message() << "member " << i + 1);
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(itf->GetFuncDesc(static_cast<UINT>(i), &fd), S_OK);
        EXPECT_EQ(fd->memid, m.id);
        EXPECT_EQ(fd->invkind, m.kind);
        EXPECT_EQ(fd->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "directly after IDispatch's seven";
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
        const size_t expectParams = m.params.size() + (m.retval != VT_EMPTY ? 1 : 0);
        ASSERT_EQ(static_cast<size_t>(fd->cParams), expectParams);

        // Names by member id: a property pair answers with its first half.
        BSTR names[8] = {};
        UINT got = 0;
        ASSERT_EQ(itf->GetNames(fd->memid, names, 8, &got), S_OK);
        ASSERT_GE(got, 1u);
        EXPECT_STREQ(names[0], m.name);
        if (m.kind == INVOKE_FUNC) {
            ASSERT_GE(got, 1 + m.params.size());
            for (size_t p = 0; p < m.params.size(); ++p) EXPECT_STREQ(names[1 + p], m.params[p].name);
        }
        for (UINT n = 0; n < got; ++n) ::SysFreeString(names[n]);

        for (size_t p = 0; p < m.params.size(); ++p) {
            SCOPED_TRACE(testing::Message() << "parameter " << p + 1);
            const ELEMDESC& ed = fd->lprgelemdescParam[p];
            USHORT pf = ed.paramdesc.wParamFlags;
            if (m.params[p].byRef) {
                ASSERT_EQ(ed.tdesc.vt, VT_PTR);
                EXPECT_EQ(ed.tdesc.lptdesc->vt, m.params[p].vt);
                EXPECT_EQ(pf & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN | PARAMFLAG_FOUT);
            } else {
                EXPECT_EQ(ed.tdesc.vt, m.params[p].vt);
                EXPECT_EQ(pf & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN);
            }
        }
        if (m.retval != VT_EMPTY) {
            const ELEMDESC& ed = fd->lprgelemdescParam[m.params.size()];
            ASSERT_EQ(ed.tdesc.vt, VT_PTR);
            EXPECT_EQ(ed.tdesc.lptdesc->vt, m.retval);
            EXPECT_TRUE(ed.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
            EXPECT_TRUE(ed.paramdesc.wParamFlags & PARAMFLAG_FOUT);
        }
        itf->ReleaseFuncDesc(fd);
    }

    // Parameter names as a late-bound client asks for them.
    const wchar_t* names[] = {L"setProgress", L"progressValue", L"progressSlow"};
    DISPID ids[3];
    ASSERT_EQ(disp->GetIDsOfNames(const_cast<LPOLESTR*>(names), 3, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030005);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(ids[2], 1);
    const wchar_t* caption[] = {L"Caption"};
    ASSERT_EQ(disp->GetIDsOfNames(const_cast<LPOLESTR*>(caption), 1, ids), S_OK);
    EXPECT_EQ(ids[0], 0x68030000);
    const wchar_t* mode[] = {L"showMode"};
    const wchar_t* show[] = {L"showProgress", mode[0]};
    ASSERT_EQ(disp->GetIDsOfNames(const_cast<LPOLESTR*>(show), 2, ids), S_OK);
    EXPECT_EQ(ids[1], 0);

    itf->Release();
    disp->Release();
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    void* p = nullptr;
    UINT len = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(block.data(), path.c_str(), &p, &len)) return L"<missing>";
    return len ? std::wstring(static_cast<const wchar_t*>(p)) : std::wstring();
}

TEST(ShippedProgram, VersionBlock) {
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(kExe, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(kExe, 0, size, block.data()));
    EXPECT_EQ(VersionString(block, L"ProductName"), L"Vellum Setup");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"2.0.0.0");
    EXPECT_NE(VersionString(block, L"OLESelfRegister"), L"<missing>");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
}

bool Contains(const std::string& bytes, const std::string& ascii) {
    if (bytes.find(ascii) != std::string::npos) return true;
    std::string wide;
    for (char c : ascii) {
        wide += c;
        wide += '\0';
    }
    return bytes.find(wide) != std::string::npos;
}

TEST(ShippedProgram, CarriesNoDeveloperTestForm) {
    std::ifstream f(kExe, std::ios::binary);
    ASSERT_TRUE(f.good());
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(Contains(bytes, "Please  wait while Quillfeather")) << "the search itself works";
    EXPECT_FALSE(Contains(bytes, "Command1"));
    EXPECT_FALSE(Contains(bytes, "testForm"));
}

}  // namespace
