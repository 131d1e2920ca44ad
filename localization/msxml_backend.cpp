// XML 3.0 DOM backend of the catalogue lookup. The catalogue sits in a
// user-writable folder, so the file is read here, refused if it is too large
// or its markup declares a DTD (entity expansion, external entities), and
// only then handed to the parser with DTD processing and external
// resolution off.
#include <windows.h>
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <string>

#include "catalogue_lookup.h"
#include "handles.h"

namespace vellum {
namespace {

// Catalogues are a few kilobytes; anything this large is not one.
constexpr DWORD kMaxCatalogueBytes = 1024 * 1024;

// Not in the toolchain's uuid library.
const IID kIID_IXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart > kMaxCatalogueBytes) return false;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes->empty() && (!::ReadFile(f.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) ||
                            got != bytes->size()))
        return false;
    return true;
}

class MsxmlBackend : public XmlBackend {
public:
    bool hasDocument() const override { return static_cast<bool>(doc_); }

    void createDocument() override {
        language_.reset();
        CLSID clsid;
        if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) return;
        if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIID_IXMLDOMDocument2,
                                      doc_.putVoid())))
            return;
        doc_->put_async(VARIANT_FALSE);
        doc_->put_validateOnParse(VARIANT_FALSE);
        doc_->put_resolveExternals(VARIANT_FALSE);
        // Where the parser has its own DTD refusal it is used as well; the
        // scan in load() is what holds where it has none.
        SetBoolProperty(L"ProhibitDTD", true);
        // Texts are taken as written: a translation may begin or end with a blank.
        doc_->put_preserveWhiteSpace(VARIANT_TRUE);
    }

    bool load(const std::wstring& path) override {
        language_.reset();
        if (!doc_) return false;
        std::string bytes;
        if (!ReadWholeFile(path, &bytes) || bytes.empty() || MayDeclareDtd(bytes)) return false;
        SAFEARRAY* sa = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!sa) return false;
        void* data = nullptr;
        if (SUCCEEDED(::SafeArrayAccessData(sa, &data))) {
            std::memcpy(data, bytes.data(), bytes.size());
            ::SafeArrayUnaccessData(sa);
        }
        Variant source;
        source.get().vt = VT_ARRAY | VT_UI1;
        source.get().parray = sa;  // owned by the Variant from here
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = doc_->load(source.get(), &ok);
        return SUCCEEDED(hr) && ok == VARIANT_TRUE;
    }

    void dropDocument() override {
        language_.reset();
        doc_.reset();
    }

    bool selectLanguage(const std::wstring& query) override {
        language_.reset();
        if (!doc_) return false;
        ComPtr<IXMLDOMElement> root;
        if (FAILED(doc_->get_documentElement(root.put())) || !root) return false;
        UniqueBstr q(::SysAllocString(query.c_str()));
        ComPtr<IXMLDOMNode> node;
        if (root->selectSingleNode(q.get(), node.put()) != S_OK || !node) return false;
        language_ = node;
        return true;
    }

    bool selectText(const std::wstring& query, std::wstring* text) override {
        if (!language_) return false;
        UniqueBstr q(::SysAllocString(query.c_str()));
        ComPtr<IXMLDOMNode> node;
        if (language_->selectSingleNode(q.get(), node.put()) != S_OK || !node) return false;
        UniqueBstr value;
        if (FAILED(node->get_text(value.put()))) return false;
        text->assign(value.get() ? value.get() : L"", value.get() ? ::SysStringLen(value.get()) : 0);
        return true;
    }

private:
    void SetBoolProperty(const wchar_t* name, bool value) {
        UniqueBstr n(::SysAllocString(name));
        VARIANT v;
        ::VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        doc_->setProperty(n.get(), v);  // unsupported properties are simply ignored
    }

    ComPtr<IXMLDOMDocument2> doc_;
    ComPtr<IXMLDOMNode> language_;  // held while the document lives
};

}  // namespace

std::unique_ptr<XmlBackend> MakeMsxmlBackend() { return std::make_unique<MsxmlBackend>(); }

}  // namespace vellum
