// Owning wrappers for the Win32 and COM resources the programs hold, so that
// every early return releases what was acquired.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace vellum {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;
    UniqueResource() = default;
    explicit UniqueResource(Type v) : value_(v) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& o) noexcept : value_(o.release()) {}
    UniqueResource& operator=(UniqueResource&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Type get() const { return value_; }
    Type* put() { reset(); return &value_; }
    explicit operator bool() const { return Traits::valid(value_); }
    Type release() { Type v = value_; value_ = Traits::invalid(); return v; }
    void reset(Type v = Traits::invalid()) {
        if (Traits::valid(value_)) Traits::close(value_);
        value_ = v;
    }
private:
    Type value_ = Traits::invalid();
};

struct FileHandleTraits {  // CreateFile reports failure as INVALID_HANDLE_VALUE
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Type h) { ::CloseHandle(h); }
};
struct KernelHandleTraits {  // most other kernel objects report failure as null
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Type h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { ::RegCloseKey(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { ::DeleteObject(h); }
};
struct BstrTraits {
    using Type = BSTR;
    static Type invalid() { return nullptr; }
    static bool valid(Type b) { return b != nullptr; }
    static void close(Type b) { ::SysFreeString(b); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueHKey = UniqueResource<RegKeyTraits>;
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;

// Minimal COM smart pointer: AddRef on copy, Release on destruction.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() { reset(); return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() { if (p_) { T* p = p_; p_ = nullptr; p->Release(); } }
    // Takes over a reference the caller already owns.
    void attach(T* p) { reset(); p_ = p; }
    T* detach() { T* p = p_; p_ = nullptr; return p; }
private:
    T* p_ = nullptr;
};

// Owns a VARIANT; cleared on destruction.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* operator&() { return &v_; }
    VARIANT& get() { return v_; }
    const VARIANT& get() const { return v_; }
private:
    VARIANT v_;
};

}  // namespace vellum
