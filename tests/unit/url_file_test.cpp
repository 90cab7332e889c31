// url! and file!: the percent-encoding tables, the decoder's bound, and what molds cut by
// /part leave of the limit. The cases written in Kov are in tests/kov/urls-files.kov.
#include <string>
#include <vector>

#include "runtime/datatypes/file.h"
#include "runtime/datatypes/url.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using UrlFileTest = Kov;

TEST_F(UrlFileTest, EncodingTables) {
    const std::string strict_kept = "ABCXYZabcxyz0189-._~";
    const std::string url_only = "!#$&'()*+,/:=?@";
    const std::string never = " \"%;<>[\\]^`{|}\x7F\x01\t";
    for (char c : strict_kept) {
        EXPECT_TRUE(url::kept_q(url::strict_table, static_cast<uint8_t>(c))) << c;
        EXPECT_TRUE(url::kept_q(url::url_table, static_cast<uint8_t>(c))) << c;
    }
    for (char c : url_only) {
        EXPECT_FALSE(url::kept_q(url::strict_table, static_cast<uint8_t>(c))) << c;
        EXPECT_TRUE(url::kept_q(url::url_table, static_cast<uint8_t>(c))) << c;
    }
    for (char c : never) EXPECT_FALSE(url::kept_q(url::url_table, static_cast<uint8_t>(c))) << int(c);
    EXPECT_FALSE(url::kept_q(url::url_table, 0xE9));
    char out[3];
    EXPECT_EQ(url::encode_byte(url::url_table, ' ', out), 3);
    EXPECT_EQ(std::string(out, 3), "%20");
    EXPECT_EQ(url::encode_byte(url::url_table, 0xAB, out), 3);
    EXPECT_EQ(std::string(out, 3), "%AB");
    EXPECT_EQ(url::encode_byte(url::url_table, '/', out), 1);
    EXPECT_EQ(out[0], '/');
}

// The decoder never reads past its text.
TEST_F(UrlFileTest, DehexStopsAtTheEnd) {
    uint8_t cut[] = {'%', 'C', '3', '%', 'A'};
    Cell* out = string::push(16, 1);
    EXPECT_TRUE(url::decode_bytes(cut, sizeof cut, out->w2));
    EXPECT_EQ(text(*out), "%C3%A");
}

TEST_F(UrlFileTest, UrlMoldWithPart) {
    // With /part the encoded text is cut, escapes included.
    Cell* out = string::push(16, 1);
    Cell u = *str("a b");
    cell::set_type(u, T_url);
    auto mold_fn = actions::lookup<actions::slot::mold>(T_url);
    int32_t left = mold_fn(&u, out, MoldArgs{.arg = &u}, 3);
    EXPECT_EQ(text(*out), "a%2");
    EXPECT_EQ(left, 0);
}

TEST_F(UrlFileTest, FileMoldWithPart) {
    // /part counts the name's characters and every delimiter.
    Cell f = *str("abcd");
    cell::set_type(f, T_file);
    Cell* out = string::push(16, 1);
    int32_t left = file::mold(&f, out, MoldArgs{.arg = &f}, 3);
    EXPECT_EQ(text(*out), "%abc");
    EXPECT_EQ(left, -1);
    Cell g = *str("a b");
    cell::set_type(g, T_file);
    out = string::push(16, 1);
    left = file::mold(&g, out, MoldArgs{}, 100);
    EXPECT_EQ(text(*out), "%\"a b\"");
    EXPECT_EQ(left, 94);
}

