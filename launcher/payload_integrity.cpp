#include "payload_integrity.h"

#include "payload_digest.h"

namespace vellum {
namespace launcher {
namespace {

// Found as the extraction finds them, so that the bytes checked are the bytes written.
ResourceBytes FetchResource(void* context, int id) {
    HMODULE module = static_cast<HMODULE>(context);
    ResourceBytes r;
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!info) return r;
    HGLOBAL loaded = ::LoadResource(module, info);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, info);
    if (!data && size) return r;
    r.data = static_cast<const unsigned char*>(data);
    r.size = size;
    r.found = true;
    return r;
}

}  // namespace

bool OwnPayloadIsIntact(HMODULE module) {
    const ResourceBytes table = FetchResource(module, kPayloadDigestResource);
    if (!table.found) return false;
    return PayloadMatchesDigest(table.data, table.size, &FetchResource, module);
}

}  // namespace launcher
}  // namespace vellum
