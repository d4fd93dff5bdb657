#include "cycle/FileNameCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvaline {
namespace {

// Every source of a name (a page, a Content-Disposition header, the remote control's "out")
// goes through this check. Names that show as something they are not, or break the line they
// are shown in, are refused with why; names in any script pass.
TEST(FileNameCheck, RefusesNamesThatAreNotOnePlainVisibleName) {
    struct Case {
        const char* what;
        std::string name;
        std::string problem; // a part of why it is refused; empty: the name is fine
    };
    const std::string control = "control character";
    const std::string invisible = "invisible character";
    const std::string direction = "text-direction mark";
    const std::vector<Case> cases = {
        {"a plain name", "report 2024.pdf", ""},
        {"accented and other scripts", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xD8\xB9.txt", ""},
        {"an emoji", "\xF0\x9F\x93\xA6.zip", ""},
        {"an ellipsis and dashes (E2 80 xx, beside the refused ones)",
         "a\xE2\x80\xA6\xE2\x80\x93\xE2\x80\x94.bin", ""},
        {"a byte that is not UTF-8 stands for itself", "caf\xE9.txt", ""},
        {"the longest name", std::string(255, 'n'), ""},
        {"empty", "", "no file name"},
        {"dot", ".", "names a folder"},
        {"dot dot", "..", "names a folder"},
        {"too long", std::string(256, 'n'), "longer than 255 bytes"},
        {"a path", "../etc/passwd", "folder separator"},
        {"a backslash", "a\\b", "folder separator"},
        {"a line feed", "a\nb", control},
        {"an escape", "a\x1b[2Jb", control},
        {"DEL", "a\x7f", control},
        {"C1: next line U+0085", "a\xC2\x85.bin", control},
        {"C1: CSI U+009B",
         "a\xC2\x9B"
         "2J.bin",
         control},
        {"C1: U+0080", "\xC2\x80.bin", control},
        {"C1: U+009F", "a\xC2\x9F", control},
        {"line separator U+2028", "a\xE2\x80\xA8.bin", control},
        {"paragraph separator U+2029", "a\xE2\x80\xA9.bin", control},
        {"zero width space U+200B", "a\xE2\x80\x8B.bin", invisible},
        {"zero width non-joiner U+200C", "a\xE2\x80\x8C.bin", invisible},
        {"zero width joiner U+200D", "a\xE2\x80\x8D.bin", invisible},
        {"word joiner U+2060", "a\xE2\x81\xA0.bin", invisible},
        {"byte order mark U+FEFF",
         "\xEF\xBB\xBF"
         "a.bin",
         invisible},
        {"a tag character U+E0041", "a\xF3\xA0\x81\x81.bin", invisible},
        {"left-to-right mark U+200E", "a\xE2\x80\x8E.bin", direction},
        {"right-to-left mark U+200F", "a\xE2\x80\x8F.bin", direction},
        {"embedding U+202A", "a\xE2\x80\xAA.bin", direction},
        {"right-to-left override U+202E", "photo\xE2\x80\xAEgpj.exe", direction},
        {"isolate U+2066", "a\xE2\x81\xA6.bin", direction},
        {"pop isolate U+2069", "a\xE2\x81\xA9.bin", direction},
        {"Arabic letter mark U+061C", "a\xD8\x9C.bin", direction},
    };
    const FileNameCheck check('/');
    for (const Case& c : cases) {
        const std::string problem = check.problem(c.name);
        if (c.problem.empty())
            EXPECT_EQ(problem, "") << c.what;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    }
    // The Windows rules come on top, never instead.
    const FileNameCheck windows('\\');
    EXPECT_NE(windows.problem("a:b.txt"), "");
    EXPECT_NE(windows.problem("nul.txt"), "");
    EXPECT_NE(windows.problem("a\xC2\x85"), "");
    EXPECT_EQ(windows.problem("caf\xC3\xA9.txt"), "");
}

} // namespace
} // namespace torvaline
