#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "payload_digest.h"

namespace vellum {
namespace launcher {
namespace {

uint32_t Crc(const std::string& s) {
    return Crc32(0, reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

TEST(PayloadDigest, Crc32KnownVectorsAndAnyChunking) {
    EXPECT_EQ(0u, Crc(""));
    EXPECT_EQ(0xCBF43926u, Crc("123456789"));
    EXPECT_EQ(0x414FA339u, Crc("The quick brown fox jumps over the lazy dog"));
    // The eight-byte path and the byte path give one result, however split.
    std::string long_text;
    for (int i = 0; i < 1000; ++i) long_text += static_cast<char>(i * 7 + 3);
    const auto* p = reinterpret_cast<const unsigned char*>(long_text.data());
    const uint32_t whole = Crc32(0, p, long_text.size());
    for (size_t cut : {1u, 7u, 8u, 9u, 500u, 999u})
        EXPECT_EQ(whole, Crc32(Crc32(0, p, cut), p + cut, long_text.size() - cut)) << cut;
}

// Builds the table as the build writes it (payload/payload_digest.py).
void Put32(std::vector<unsigned char>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(v >> (8 * i)));
}
std::vector<unsigned char> Table(const std::vector<std::string>& resources, uint32_t first = 100) {
    std::vector<unsigned char> t = {'V', 'P', 'D', '1'};
    Put32(&t, first);
    Put32(&t, static_cast<uint32_t>(resources.size()));
    for (const auto& r : resources) {
        Put32(&t, static_cast<uint32_t>(r.size()));
        Put32(&t, Crc(r));
    }
    Put32(&t, Crc32(0, t.data(), t.size()));
    return t;
}

struct Image {
    std::map<int, std::string> resources;
};
ResourceBytes Fetch(void* context, int id) {
    auto* image = static_cast<Image*>(context);
    ResourceBytes r;
    auto it = image->resources.find(id);
    if (it == image->resources.end()) return r;
    r.data = reinterpret_cast<const unsigned char*>(it->second.data());
    r.size = it->second.size();
    r.found = true;
    return r;
}
bool Check(const std::vector<unsigned char>& table, Image* image) {
    return PayloadMatchesDigest(table.data(), table.size(), &Fetch, image);
}

TEST(PayloadDigest, SoundPayloadPassesAndEveryDamageIsFound) {
    const std::vector<std::string> files = {"a.cab\r\nVellumSetup.jse\r\n", std::string(5000, 'x') + "cabinet",
                                            "#@~^script", ""};
    Image sound;
    for (size_t i = 0; i < files.size(); ++i) sound.resources[100 + static_cast<int>(i)] = files[i];
    const auto table = Table(files);
    EXPECT_TRUE(Check(table, &sound));

    // One changed byte anywhere in any resource, the list included.
    for (int id = 100; id <= 102; ++id) {
        for (size_t at : {size_t{0}, size_t{3}, sound.resources[id].size() - 1}) {
            Image damaged = sound;
            damaged.resources[id][at] ^= 0x01;
            EXPECT_FALSE(Check(table, &damaged)) << id << " at " << at;
        }
    }
    // A shorter or longer resource, or a missing one.
    Image shorter = sound;
    shorter.resources[101].pop_back();
    EXPECT_FALSE(Check(table, &shorter));
    Image longer = sound;
    longer.resources[103] = std::string(1, '\0');
    EXPECT_FALSE(Check(table, &longer));
    Image missing = sound;
    missing.resources.erase(102);
    EXPECT_FALSE(Check(table, &missing));
}

TEST(PayloadDigest, MalformedTableIsDamage) {
    Image image;
    image.resources[100] = "list";
    const auto table = Table({"list"});
    ASSERT_TRUE(Check(table, &image));
    EXPECT_FALSE(PayloadMatchesDigest(nullptr, 0, &Fetch, &image));
    for (size_t at = 0; at < table.size(); ++at) {
        auto bad = table;
        bad[at] ^= 0x40;
        EXPECT_FALSE(Check(bad, &image)) << "byte " << at;
    }
    auto cut = table;
    cut.pop_back();
    EXPECT_FALSE(Check(cut, &image));
    // A count that would wrap a 32-bit size computation, with a sound checksum.
    std::vector<unsigned char> huge = {'V', 'P', 'D', '1'};
    Put32(&huge, 100);
    Put32(&huge, 0x20000000u);
    Put32(&huge, 4);
    Put32(&huge, Crc32(0, reinterpret_cast<const unsigned char*>("list"), 4));
    Put32(&huge, Crc32(0, huge.data(), huge.size()));
    EXPECT_FALSE(Check(huge, &image));
}

}  // namespace
}  // namespace launcher
}  // namespace vellum
