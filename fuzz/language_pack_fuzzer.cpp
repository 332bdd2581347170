// Fuzz target: the language-pack container. The first two bytes give an entry count (little
// endian, below 1024); the rest is an "ISTF" block, unpacked with the program's key and without
// one, and the readable text-table source, parsed. A block that unpacks is packed again and must
// unpack to the same entries.
#include "settings/language_pack.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace quill::settings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t count = (data[0] | std::size_t(data[1]) << 8) % 1024;
    const std::span<const std::uint8_t> block(data + 2, size - 2);
    for (const bool keyed : {true, false}) {
        std::vector<std::string> entries;
        const std::span<const std::uint8_t> key =
            keyed ? std::span<const std::uint8_t>(scrambleKey()) : std::span<const std::uint8_t>();
        if (!unpackBlock(block, key, count, entries)) continue;
        if (entries.size() != count) std::abort();
        const std::vector<std::uint8_t> again = packBlock(entries, key, true);
        std::vector<std::string> back;
        if (!again.empty() && (!unpackBlock(again, key, count, back) || back != entries))
            std::abort();
    }
    std::vector<std::string> entries;
    std::string error;
    (void)parseTextTable(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2), count,
                         entries, error);
    return 0;
}
