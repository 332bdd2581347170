// Build tool: writes the desktop entry from its template, with the MIME types of every format the
// program reads in place of "@MIME_TYPES@", so that the entry offers what the format table reads.
//   quill_desktop_entry TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "imagefiles/format.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quill_desktop_entry TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string entry = text.str();
    std::string types;
    for (std::string_view type : quill::imagefiles::readableMimeTypes()) {
        types += type;
        types += ';';
    }
    const std::string marker = "@MIME_TYPES@";
    const std::size_t at = entry.find(marker);
    if (!in || at == std::string::npos) {
        std::fprintf(stderr, "quill_desktop_entry: %s has no %s\n", argv[1], marker.c_str());
        return 1;
    }
    entry.replace(at, marker.size(), types);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << entry;
    return out.good() ? 0 : 1;
}
