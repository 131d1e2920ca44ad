// A streaming JSON writer: the inspector's only output format, so the Python
// harness reads every answer with json.loads. Text is written as UTF-8.
#pragma once
#include <string>
#include <vector>

namespace inspector {

class JsonWriter {
public:
    JsonWriter& beginObject() { separate(); out_ += '{'; first_.push_back(true); return *this; }
    JsonWriter& endObject() { out_ += '}'; first_.pop_back(); return *this; }
    JsonWriter& beginArray() { separate(); out_ += '['; first_.push_back(true); return *this; }
    JsonWriter& endArray() { out_ += ']'; first_.pop_back(); return *this; }

    JsonWriter& key(const char* name) {
        separate();
        appendString(name);
        out_ += ':';
        afterKey_ = true;
        return *this;
    }
    JsonWriter& str(const std::string& utf8) { separate(); appendString(utf8); return *this; }
    JsonWriter& num(long long v) { separate(); out_ += std::to_string(v); return *this; }
    JsonWriter& boolean(bool v) { separate(); out_ += v ? "true" : "false"; return *this; }
    JsonWriter& null() { separate(); out_ += "null"; return *this; }

    // Shorthands for "key": value.
    JsonWriter& field(const char* k, const std::string& v) { return key(k).str(v); }
    JsonWriter& field(const char* k, const char* v) { return key(k).str(v); }
    JsonWriter& field(const char* k, long long v) { return key(k).num(v); }
    JsonWriter& field(const char* k, int v) { return key(k).num(v); }
    JsonWriter& field(const char* k, long v) { return key(k).num(v); }
    JsonWriter& field(const char* k, unsigned long v) { return key(k).num(static_cast<long long>(v)); }
    JsonWriter& field(const char* k, unsigned v) { return key(k).num(v); }
    JsonWriter& flag(const char* k, bool v) { return key(k).boolean(v); }

    const std::string& text() const { return out_; }

private:
    void separate() {
        if (afterKey_) { afterKey_ = false; return; }
        if (first_.empty()) return;
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
    void appendString(const std::string& s) {
        out_ += '"';
        for (unsigned char c : s) {
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (c < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out_ += "\\u00";
                    out_ += hex[c >> 4];
                    out_ += hex[c & 15];
                } else {
                    out_ += static_cast<char>(c);
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace inspector
