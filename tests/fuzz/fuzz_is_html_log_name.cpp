// IsHtmlLogName over any name: the answer depends only on the last path component; a
// directory that looks like a page does not make its files pages; a name that is a page
// ends in ".htm" or ".html" in some letter case; the letter case of the name never matters;
// and adding an extension decides the answer by that extension alone.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "log/log_file.h"

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::string Uppered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

bool EndsWithPageExtension(std::string_view name) {
    const std::string upper = Uppered(name);
    const std::string_view u = upper;
    return (u.size() >= 4 && u.substr(u.size() - 4) == ".HTM") ||
           (u.size() >= 5 && u.substr(u.size() - 5) == ".HTML");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using corvane::log::IsHtmlLogName;
    const std::string name(reinterpret_cast<const char*>(data), size);
    const bool page = IsHtmlLogName(name);

    if (page) {
        FUZZ_CHECK(EndsWithPageExtension(name));
    }
    FUZZ_CHECK_EQ(IsHtmlLogName(Uppered(name)), page);

    // Only the last component counts, whatever the separator before it.
    const std::size_t cut = name.find_last_of("\\/:");
    if (cut != std::string::npos) {
        FUZZ_CHECK_EQ(IsHtmlLogName(name.substr(cut + 1)), page);
    }
    for (const char* directory : {"C:\\logs\\", "/var/log/", "D:", "x.htm/", "x.html\\"}) {
        FUZZ_CHECK_EQ(IsHtmlLogName(directory + name),
                      IsHtmlLogName(name.substr(cut == std::string::npos ? 0 : cut + 1)));
    }
    // A component of its own after the name: the name's extension no longer counts.
    FUZZ_CHECK(!IsHtmlLogName(name + "/x"));
    FUZZ_CHECK(!IsHtmlLogName(name + "\\"));
    // An extension added at the end decides.
    FUZZ_CHECK(IsHtmlLogName(name + ".htm"));
    FUZZ_CHECK(IsHtmlLogName(name + ".HtMl"));
    FUZZ_CHECK(!IsHtmlLogName(name + ".txt"));
    FUZZ_CHECK(!IsHtmlLogName(name + "."));
    FUZZ_CHECK(!IsHtmlLogName(name + ".htmx"));
    // Without a full stop in the last component there is no extension.
    const std::string_view last =
        std::string_view(name).substr(cut == std::string::npos ? 0 : cut + 1);
    if (last.find('.') == std::string_view::npos) {
        FUZZ_CHECK(!page);
    }
    return 0;
}
