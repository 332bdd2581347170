// Fuzz target: the language-pack container. An "ISTF" block is unpacked with the program's key
// and without one, for an entry count taken from the input, and the readable text-table source
// is parsed; a block that unpacks is packed again and must unpack to the same entries.
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
    if (size < 1) return 0;
    const std::size_t count = data[0] % 16;
    const std::span<const std::uint8_t> block(data + 1, size - 1);
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
    (void)parseTextTable(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), count,
                         entries, error);
    return 0;
}
