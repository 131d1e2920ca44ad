// The check of the payload against the digest table the build embedded
// (resource 99, written by payload/payload_digest.py): a damaged download
// is refused before anything is written. Plain C++; the resources come
// through a callback so that unit tests can hand in any bytes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vellum {
namespace launcher {

constexpr int kPayloadDigestResource = 99;

// CRC-32 (polynomial 0xEDB88320, as zip uses it), continued from crc: pass
// 0 to start. Crc32(0, "123456789", 9) == 0xCBF43926.
uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size);

// The bytes of one resource; found is false when the image has none of that id.
struct ResourceBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
    bool found = false;
};
using ResourceFetch = ResourceBytes (*)(void* context, int id);

// True when the table is well formed (magic, count, its own checksum) and
// every resource it names is present with its recorded size and CRC-32.
// A missing or malformed table counts as damage: every build writes one.
bool PayloadMatchesDigest(const unsigned char* table, size_t tableSize, ResourceFetch fetch, void* context);

// The text of the one box a damaged installer shows.
extern const wchar_t kMsgInstallerDamaged[];

}  // namespace launcher
}  // namespace vellum
