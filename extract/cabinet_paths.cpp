#include "cabinet_paths.h"

#include <cwctype>

namespace vellum::extract {

const wchar_t kUsage[] =
    L"EXTRACT: extracts the files of cabinets.\r\n"
    L"\r\n"
    L"EXTRACT [/Y] [/E] [/L folder] [/O listing] [/P progress] cabinet...\r\n"
    L"EXTRACT /D [/O listing] cabinet...\r\n"
    L"EXTRACT /C [/L folder] [/O report] [/P progress] cabinet...\r\n"
    L"EXTRACT /U [/L folder] [/O report] [/P progress] cabinet...\r\n"
    L"EXTRACT /T folder [/S] [/O listing]\r\n"
    L"EXTRACT /R folder [/O report] [/P progress] [/K registry] [/V text digest] list\r\n"
    L"\r\n"
    L"  cabinet    a cabinet file, or @file: a plan file naming one cabinet a\r\n"
    L"             line; later cabinets' files replace earlier ones' of the\r\n"
    L"             same name\r\n"
    L"  /E         extract all files (the default; accepted for habit)\r\n"
    L"  /L folder  the folder to extract into (created if missing) or to\r\n"
    L"             compare with; default: the current folder\r\n"
    L"  /Y         replace existing files; without it an existing file\r\n"
    L"             stops the extraction before anything is written\r\n"
    L"  /D         list the files of the cabinets, extract nothing\r\n"
    L"  /C         compare: report the files of the folder that are missing\r\n"
    L"             or differ from the cabinets, write nothing\r\n"
    L"  /U         update: write only the files that are missing or differ\r\n"
    L"  /T folder  list the files and folders below the folder (links are\r\n"
    L"             reported, never entered), no cabinet\r\n"
    L"  /S         with /T: the folder's own entries only, no subfolder's\r\n"
    L"  /W folder file\r\n"
    L"             with an extraction: once every file is extracted, write\r\n"
    L"             the listing of the folder (as /T /O would) into the file\r\n"
    L"  /A folder  with an extraction: a copy of every cabinet, under its own\r\n"
    L"             name, in this folder below the destination, listed as\r\n"
    L"             \"copy<TAB>size<TAB>path\" (written whole before it is\r\n"
    L"             renamed into place, like every file)\r\n"
    L"  /M file copy\r\n"
    L"             with an extraction and /O: once every file is extracted,\r\n"
    L"             copy the file and list the SHA-256 of the bytes copied\r\n"
    L"             (a UTF-16 byte-order mark left out) in the listing as\r\n"
    L"             \"digest<TAB>size<TAB>hex\"; a file that cannot be read\r\n"
    L"             gets no such line\r\n"
    L"  /R folder  remove what the list names below the folder, in its order\r\n"
    L"             (UTF-16 lines \"file<TAB>path\" and \"folder<TAB>path\",\r\n"
    L"             paths relative to the folder): a folder only when empty,\r\n"
    L"             nothing through a link; with a link on the way of any\r\n"
    L"             entry nothing is removed; stops at the first entry that\r\n"
    L"             cannot be deleted\r\n"
    L"  /K file    with /R: once every file is gone, delete the registry keys\r\n"
    L"             and values the file names (UTF-16 lines \"key<TAB>name\",\r\n"
    L"             \"value<TAB>name\", and \"view<TAB>32\" or \"64\"): HKLM or HKCU,\r\n"
    L"             a key only as an uninstall entry, a value in a vendor's key\r\n"
    L"             or an uninstall entry; each is reported\r\n"
    L"  /V file digest\r\n"
    L"             with /R: the text file the list was made from must have\r\n"
    L"             this SHA-256 (of its UTF-16LE text) before anything goes\r\n"
    L"  /O file    write the listing (or the comparison) into this file\r\n"
    L"             (UTF-16): status, size and path, separated by tabs\r\n"
    L"  /P file    keep a one-line progress record in this file\r\n"
    L"\r\n"
    L"Exit code 0 when every file was extracted (or listed, or compared), 1 for\r\n"
    L"a usage error, 2 when a cabinet cannot be read or is damaged, 3 when a\r\n"
    L"file cannot be written or read, 4 when a cabinet names a file outside the\r\n"
    L"folder, a device (CON, NUL, COM1, ...) or a name ending in a dot or a\r\n"
    L"blank; plus 10 times the failed cabinet's position in the plan (from 0).\r\n"
    L"/R: 0 when every entry is gone or kept as a folder that holds something\r\n"
    L"or is a link, 3 when one could not be deleted, 4 for a list that names\r\n"
    L"a path outside the folder (or a registry item not allowed), 5 when a\r\n"
    L"link is on the way, 6 when every file went but a registry item stayed,\r\n"
    L"7 when the /V text is not the one its digest names (nothing removed).\r\n"
    L"Every cabinet is checked before the first file is written. A file is\r\n"
    L"written under a temporary name and takes its own name only when\r\n"
    L"complete: a file that fails never replaces an existing one.\r\n";

namespace {

bool IsSwitch(const std::wstring& a, wchar_t letter) {
    return a.size() == 2 && (a[0] == L'/' || a[0] == L'-') &&
           std::towupper(a[1]) == letter;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::wstring>& args, Options* options,
                      std::wstring* error) {
    Options o;
    if (args.empty()) {
        o.help = true;
        *options = o;
        return true;
    }
    int modes = 0;
    auto value = [&](size_t* i, const wchar_t* what, std::wstring* out) {
        if (*i + 1 >= args.size() || args[*i + 1].empty()) {
            *error = std::wstring(args[*i]) + L" needs " + what;
            return false;
        }
        *out = args[++*i];
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (IsSwitch(a, L'?') || IsSwitch(a, L'H')) {
            o.help = true;
        } else if (IsSwitch(a, L'Y')) {
            o.overwrite = true;
        } else if (IsSwitch(a, L'E')) {
            // All files is what this tool always does.
        } else if (IsSwitch(a, L'D')) {
            o.mode = Mode::kList;
            ++modes;
        } else if (IsSwitch(a, L'C')) {
            o.mode = Mode::kCompare;
            ++modes;
        } else if (IsSwitch(a, L'U')) {
            o.mode = Mode::kUpdate;
            ++modes;
        } else if (IsSwitch(a, L'T')) {
            o.mode = Mode::kTree;
            ++modes;
            if (!value(&i, L"a folder", &o.destination)) return false;
        } else if (IsSwitch(a, L'R')) {
            o.mode = Mode::kRemove;
            ++modes;
            if (!value(&i, L"a folder", &o.destination)) return false;
        } else if (IsSwitch(a, L'S')) {
            o.shallow = true;
        } else if (IsSwitch(a, L'W')) {
            if (!value(&i, L"a folder and a file", &o.treeFolder) ||
                !value(&i, L"a folder and a file", &o.treeListing))
                return false;
        } else if (IsSwitch(a, L'A')) {
            if (!value(&i, L"a folder", &o.copies)) return false;
        } else if (IsSwitch(a, L'M')) {
            if (!value(&i, L"a file and a copy", &o.digestFile) || !value(&i, L"a file and a copy", &o.digestCopy))
                return false;
        } else if (IsSwitch(a, L'L')) {
            if (!value(&i, L"a folder", &o.destination)) return false;
        } else if (IsSwitch(a, L'O')) {
            if (!value(&i, L"a file", &o.listing)) return false;
        } else if (IsSwitch(a, L'P')) {
            if (!value(&i, L"a file", &o.progress)) return false;
        } else if (IsSwitch(a, L'K')) {
            if (!value(&i, L"a file", &o.registry)) return false;
        } else if (IsSwitch(a, L'V')) {
            if (!value(&i, L"a file and a digest", &o.trustedText) ||
                !value(&i, L"a file and a digest", &o.trustedDigest))
                return false;
        } else if (!a.empty() && (a[0] == L'/' || (a[0] == L'-' && a.size() > 1))) {
            *error = L"unknown option " + a;
            return false;
        } else if (a == L"@") {
            *error = L"@ needs a plan file";
            return false;
        } else if (!a.empty()) {
            o.cabinets.push_back(a);
        }
    }
    if (modes > 1) {
        *error = L"only one of /D, /C, /U, /T and /R may be given";
        return false;
    }
    if (!o.listing.empty() && SameText(o.listing, o.progress)) {
        *error = L"the listing and the progress record need two files";
        return false;
    }
    if (!o.treeListing.empty() &&
        (o.mode != Mode::kExtract || SameText(o.treeListing, o.listing) || SameText(o.treeListing, o.progress))) {
        *error = L"/W goes with an extraction and needs a file of its own";
        return false;
    }
    if (!o.digestCopy.empty() &&
        (o.mode != Mode::kExtract || o.listing.empty() || SameText(o.digestCopy, o.listing) ||
         SameText(o.digestCopy, o.progress) || SameText(o.digestCopy, o.treeListing) ||
         SameText(o.digestCopy, o.digestFile))) {
        *error = L"/M goes with an extraction and /O, and needs a copy of its own";
        return false;
    }
    std::wstring copies;
    if (!o.copies.empty() && (o.mode != Mode::kExtract || !SafeRelativePath(o.copies, &copies))) {
        *error = L"/A goes with an extraction and names a folder inside the destination";
        return false;
    }
    if (!copies.empty()) o.copies = copies;
    if (o.mode == Mode::kTree) {
        if (!o.cabinets.empty() || !o.progress.empty() || o.overwrite || !o.registry.empty() ||
            !o.trustedText.empty()) {
            *error = L"/T lists a folder: it takes no cabinet, /P, /K, /V or /Y";
            return false;
        }
    } else if (o.mode == Mode::kRemove) {
        if (o.cabinets.size() != 1 || o.overwrite || o.shallow) {
            *error = L"/R takes one removal list and no /Y or /S";
            return false;
        }
    } else if (!o.registry.empty() || !o.trustedText.empty()) {
        *error = L"/K and /V go with /R";
        return false;
    } else if (o.shallow) {
        *error = L"/S goes with /T";
        return false;
    } else if (!o.help && o.cabinets.empty()) {
        *error = L"no cabinet given";
        return false;
    }
    *options = o;
    return true;
}

bool SafeRelativePath(const std::wstring& memberName, std::wstring* out) {
    if (memberName.empty()) return false;
    if (memberName[0] == L'\\' || memberName[0] == L'/') return false;
    std::wstring result;
    std::wstring part;
    auto flush = [&]() -> bool {
        if (part.empty() || part == L".") {
            part.clear();
            return true;
        }
        if (part == L"..") return false;
        // Windows drops trailing dots and blanks, so "..." or ".. " would
        // also climb; refuse any component made of dots and blanks only.
        if (part.find_first_not_of(L". ") == std::wstring::npos) return false;
        // Windows drops them as well, so the file would land under another name.
        if (part.back() == L'.' || part.back() == L' ') return false;
        if (IsDeviceName(part)) return false;
        if (!result.empty()) result += L'\\';
        result += part;
        part.clear();
        return true;
    };
    for (wchar_t c : memberName) {
        if (c == L':' || c < 32) return false;  // drive, stream or control character
        if (c == L'\\' || c == L'/') {
            if (!flush()) return false;
        } else {
            part += c;
        }
    }
    if (!flush()) return false;
    if (result.empty()) return false;
    *out = result;
    return true;
}

bool IsDeviceName(const std::wstring& component) {
    // The system looks at the name before the first dot, blanks at its end ignored.
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

unsigned long CabinetChecksum(const unsigned char* data, size_t size, unsigned long seed) {
    unsigned long value = seed;
    size_t whole = size / 4 * 4;
    for (size_t i = 0; i < whole; i += 4) {
        value ^= static_cast<unsigned long>(data[i]) | (static_cast<unsigned long>(data[i + 1]) << 8) |
                 (static_cast<unsigned long>(data[i + 2]) << 16) |
                 (static_cast<unsigned long>(data[i + 3]) << 24);
    }
    unsigned long tail = 0;
    for (size_t i = whole; i < size; ++i) tail = (tail << 8) | data[i];
    return (value ^ tail) & 0xFFFFFFFFul;
}

namespace {

struct Reader {
    const unsigned char* data;
    size_t size;
    size_t pos;
    bool ok = true;
    unsigned long Get(int bytes) {
        if (pos + bytes > size) {
            ok = false;
            return 0;
        }
        unsigned long v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<unsigned long>(data[pos + i]) << (8 * i);
        pos += bytes;
        return v;
    }
    void Skip(size_t n) {
        if (pos + n > size) ok = false;
        else pos += n;
    }
    void SkipString() {
        while (pos < size && data[pos] != 0) ++pos;
        if (pos >= size) ok = false;
        else ++pos;
    }
};

}  // namespace

bool VerifyCabinet(const unsigned char* data, size_t size, std::wstring* error) {
    Reader r{data, size, 0};
    if (size < 36 || data[0] != 'M' || data[1] != 'S' || data[2] != 'C' || data[3] != 'F') {
        *error = L"the file is not a cabinet";
        return false;
    }
    r.Skip(4);
    r.Get(4);
    unsigned long cabinetSize = r.Get(4);
    r.Get(4);
    unsigned long fileTable = r.Get(4);
    r.Get(4);
    r.Get(2);  // version
    unsigned long folders = r.Get(2);
    unsigned long files = r.Get(2);
    unsigned long flags = r.Get(2);
    r.Get(4);  // set id, index
    if (cabinetSize > size) {
        *error = L"the cabinet is shorter than its header says (truncated)";
        return false;
    }
    unsigned long folderReserve = 0, dataReserve = 0;
    if (flags & 0x0004) {
        unsigned long headerReserve = r.Get(2);
        folderReserve = r.Get(1);
        dataReserve = r.Get(1);
        r.Skip(headerReserve);
    }
    if (flags & 0x0001) { r.SkipString(); r.SkipString(); }
    if (flags & 0x0002) { r.SkipString(); r.SkipString(); }
    struct Folder { unsigned long start, blocks; unsigned long long bytes = 0; };
    std::vector<Folder> list;
    for (unsigned long f = 0; f < folders && r.ok; ++f) {
        Folder folder{};
        folder.start = r.Get(4);
        folder.blocks = r.Get(2);
        r.Get(2);  // compression
        r.Skip(folderReserve);
        list.push_back(folder);
    }
    if (!r.ok) {
        *error = L"the cabinet's header is damaged";
        return false;
    }
    for (size_t f = 0; f < list.size(); ++f) {
        Reader block{data, size, list[f].start};
        for (unsigned long b = 0; b < list[f].blocks; ++b) {
            size_t at = block.pos;
            unsigned long stored = block.Get(4);
            block.Get(2);  // compressed size
            list[f].bytes += block.Get(2);  // uncompressed size
            if (!block.ok) break;
            unsigned long compressed = data[at + 4] | (data[at + 5] << 8);
            block.Skip(dataReserve + compressed);
            if (!block.ok) break;
            if (stored != 0) {
                unsigned long sum = CabinetChecksum(data + at + 8 + dataReserve, compressed, 0);
                sum = CabinetChecksum(data + at + 4, 4 + dataReserve, sum);
                if (sum != stored) {
                    *error = L"the cabinet's data is damaged (checksum mismatch)";
                    return false;
                }
            }
        }
        if (!block.ok) {
            *error = L"the cabinet's data is truncated";
            return false;
        }
    }
    Reader table{data, size, fileTable};
    for (unsigned long i = 0; i < files; ++i) {
        unsigned long long length = table.Get(4);
        unsigned long long offset = table.Get(4);
        unsigned long folder = table.Get(2);
        table.Skip(6);  // date, time, attributes
        table.SkipString();
        if (!table.ok) {
            *error = L"the cabinet's file table is damaged";
            return false;
        }
        // Files continued from or into another cabinet are refused later on.
        if (folder >= 0xFFFD) continue;
        if (folder >= list.size() || offset + length > list[folder].bytes) {
            *error = L"the cabinet names a file longer than the data it holds";
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> ParentFolders(const std::wstring& relativePath) {
    std::vector<std::wstring> folders;
    for (size_t pos = relativePath.find(L'\\'); pos != std::wstring::npos;
         pos = relativePath.find(L'\\', pos + 1)) {
        folders.push_back(relativePath.substr(0, pos));
    }
    return folders;
}

}  // namespace vellum::extract
