// Text from outside made safe to print and draw.
#include "Utf8.h"

#include <gtest/gtest.h>

using namespace trevlin;

TEST(EscapeControls, OneLineWhateverTheNameHolds) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Firefox", "Firefox"},
        {"two\nlines", "two\\nlines"},
        {"tab\there\r", "tab\\there\\r"},
        {"\x1b[2Jclear", "\\x1b[2Jclear"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"del\x7f", "del\\x7f"},
        {"next\xc2\x85line", "next\\u0085line"},        // C1 NEL
        {"para\xe2\x80\xa9sep", "para\\u2029sep"},     // paragraph separator
        {"caf\xc3\xa9 \xe2\x80\x94 \xe6\x97\xa5", "caf\xc3\xa9 \xe2\x80\x94 \xe6\x97\xa5"},  // letters and a dash stay
        {"bad\xff\xc2", "bad\xff\xc2"},                 // invalid bytes are not this function's business
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(escapeControls(in), out) << out;
}
