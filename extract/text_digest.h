#pragma once

#include <string>

namespace vellum::extract {

// The SHA-256 of a text file's UTF-16LE bytes, its byte order mark (FF FE)
// not counted, as 64 lower-case hex digits: the digest an installation keeps
// of the list of its files. A removal made from that list (/V) checks it
// before anything goes.
std::string TextDigest(const std::string& bytes);

}  // namespace vellum::extract
