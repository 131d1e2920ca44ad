#include "payload_digest.h"

namespace vellum {
namespace launcher {

const wchar_t kMsgInstallerDamaged[] =
    L"This installer is damaged: its data does not match what it was built with, so nothing was installed.\r\n\r\n"
    L"Please download the installer again.";

namespace {

// Slicing by eight: the check runs over the whole payload at every start,
// and one table lookup per byte would cost several times as much. The
// tables (8 KB) live on the stack of the check: as a static they would
// land in the file's data section and cost two pages of every download.
struct CrcTables {
    uint32_t t[8][256];
};

void FillTables(CrcTables* tables) {
    uint32_t(*t)[256] = tables->t;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t Crc32With(const CrcTables& tables, uint32_t crc, const unsigned char* data, size_t size) {
    const uint32_t(*t)[256] = tables.t;
    crc = ~crc;
    while (size >= 8) {
        const uint32_t a = Le32(data) ^ crc;
        const uint32_t b = Le32(data + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
        data += 8;
        size -= 8;
    }
    while (size--) crc = (crc >> 8) ^ t[0][(crc ^ *data++) & 0xFF];
    return ~crc;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
    CrcTables tables;
    FillTables(&tables);
    return Crc32With(tables, crc, data, size);
}

bool PayloadMatchesDigest(const unsigned char* table, size_t tableSize, ResourceFetch fetch, void* context) {
    if (!table || tableSize < 16) return false;
    CrcTables tables;
    FillTables(&tables);
    if (table[0] != 'V' || table[1] != 'P' || table[2] != 'D' || table[3] != '1') return false;
    const uint32_t first = Le32(table + 4);
    const uint32_t count = Le32(table + 8);
    // Compared without multiplying first: a huge count must not wrap around.
    if ((tableSize - 16) / 8 != count || (tableSize - 16) % 8 != 0) return false;
    if (Le32(table + tableSize - 4) != Crc32With(tables, 0, table, tableSize - 4)) return false;
    if (count == 0 || first > 0xFFFF || count > 0xFFFF - first) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = table + 12 + 8 * static_cast<size_t>(i);
        const ResourceBytes r = fetch(context, static_cast<int>(first + i));
        if (!r.found || r.size != Le32(entry)) return false;
        if (Crc32With(tables, 0, r.data, r.size) != Le32(entry + 4)) return false;
    }
    return true;
}

}  // namespace launcher
}  // namespace vellum
