#pragma once

#include <cstddef>
#include <string>

namespace vellum::extract {

// The SHA-256 of bytes, as 64 lower-case hex digits.
std::string Sha256Hex(const unsigned char* data, size_t size);

// The SHA-256 of a text file's UTF-16LE bytes, its byte order mark (FF FE)
// not counted (the script host writes one and hashes the text after it), as
// 64 lower-case hex digits: the digest an installation keeps of the list of
// its files. A removal made from that list (/V) checks it before anything
// goes; an extraction reports it for a copy it made (/M).
std::string TextDigest(const std::string& bytes);

}  // namespace vellum::extract
