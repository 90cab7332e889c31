// File I/O of file! values, the file routines and size?, through Kov text, against files
// made and read from C++. Each test works in a scratch directory of its own, named in the Kov
// text as %<dir>/. The I/O natives that need no files are tested in tests/kov/io.kov.
#include <filesystem>
#include <fstream>

#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;
namespace fs = std::filesystem;

namespace {

struct FileIo : Kov {
    fs::path dir;
    FileIo() {
        dir = fs::temp_directory_path() /
              (std::string("kov-file-io-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~FileIo() override { fs::remove_all(dir); }

    // The Kov text with every <dir> replaced by the scratch directory.
    std::string at(std::string source) const {
        for (size_t p; (p = source.find("<dir>")) != std::string::npos;) source.replace(p, 5, dir.string());
        return source;
    }
    std::string run(const std::string& source) const { return eval(at(source)); }
    void check(std::initializer_list<std::pair<const char*, const char*>> cases) const {
        for (const auto& [source, result] : cases) EXPECT_EQ(run(source), result) << source;
    }

    void put(const char* name, const std::string& bytes) const {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    std::string get(const char* name) const {
        std::ifstream in(dir / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

}  // namespace

TEST_F(FileIo, ReadsTextBytesAndLines) {
    put("t.txt", "h\xC3\xA9llo\nw\xC3\xB6rld");
    put("crlf.txt", "a\r\nb\n");
    put("blank.txt", "a\n\nb");
    put("bom.txt", "\xEF\xBB\xBFx\ny");
    put("empty.txt", "");
    check({
        {"read %<dir>/t.txt", "\"héllo^/wörld\""},
        {"read/binary %<dir>/t.txt", "#{68C3A96C6C6F0A77C3B6726C64}"},
        {"read/lines %<dir>/t.txt", "[\"héllo\" \"wörld\"]"},
        {"read/lines %<dir>/crlf.txt", "[\"a\" \"b\"]"},
        {"read/lines %<dir>/blank.txt", "[\"a\" \"\" \"b\"]"},
        {"read %<dir>/bom.txt", "\"x^/y\""},
        {"read/lines %<dir>/bom.txt", "[\"x\" \"y\"]"},
        {"read/binary %<dir>/bom.txt", "#{EFBBBF780A79}"},
        {"read %<dir>/empty.txt", "\"\""},
        {"read/binary %<dir>/empty.txt", "#{}"},
        {"read/lines %<dir>/empty.txt", "[]"},
        // /seek and /part count bytes; a part past the end reads the rest.
        {"read/binary/part %<dir>/crlf.txt 2", "#{610D}"},
        {"read/binary/part %<dir>/crlf.txt 0", "#{}"},
        {"read/binary/part %<dir>/crlf.txt 99", "#{610D0A620A}"},
        {"read/binary/seek %<dir>/crlf.txt 3", "#{620A}"},
        {"read/binary/seek/part %<dir>/crlf.txt 1 2", "#{0D0A}"},
        {"read/binary/seek %<dir>/crlf.txt 99", "#{}"},
        {"read/seek/part %<dir>/t.txt 7 3", "\"wö\""},
    });
}

TEST_F(FileIo, WritesStringsBinariesAndMoldedValues) {
    check({
        {"write %<dir>/a \"x^/é\"", "unset"},
        {"write/binary %<dir>/b #{00FF}", "unset"},
        {"write %<dir>/c [1 \"s\" %f]", "unset"},
        {"write/lines %<dir>/d [1 \"s\" %f]", "unset"},
        {"write/lines %<dir>/e \"one\"", "unset"},
        {"write/part %<dir>/f \"abcdef\" 3", "unset"},
        {"write/part %<dir>/g #{010203} 2", "unset"},
        {"write %<dir>/h next \"abc\"", "unset"},
    });
    EXPECT_EQ(get("a"), "x\n\xC3\xA9");  // no line-end conversion
    EXPECT_EQ(get("b"), std::string("\x00\xFF", 2));
    EXPECT_EQ(get("c"), "[1 \"s\" %f]");
    EXPECT_EQ(get("d"), "1\ns\n%f\n");
    EXPECT_EQ(get("e"), "one\n");
    EXPECT_EQ(get("f"), "abc");
    EXPECT_EQ(get("g"), std::string("\x01\x02", 2));
    EXPECT_EQ(get("h"), "bc");

    // A plain write truncates; /append adds at the end; /seek writes over from an offset.
    put("k", "0123456789");
    EXPECT_EQ(run("write %<dir>/k \"ab\""), "unset");
    EXPECT_EQ(get("k"), "ab");
    EXPECT_EQ(run("write/append %<dir>/k \"cd\""), "unset");
    EXPECT_EQ(get("k"), "abcd");
    EXPECT_EQ(run("write/seek %<dir>/k \"X\" 1"), "unset");
    EXPECT_EQ(get("k"), "aXcd");
    EXPECT_EQ(run("write/seek %<dir>/k \"Y\" 0"), "unset");
    EXPECT_EQ(get("k"), "YXcd");

    check({
        {"write/part %<dir>/k \"z\" 1.5", "error: script/invalid-refine-arg"},
        {"write/part %<dir>/k \"z\" -1", "unset"},  // writes nothing
        {"write %<dir>/no/such/dir/x \"z\"", "error: access/cannot-open"},
        {"write %<dir>/ \"z\"", "error: access/cannot-open"},
    });
    EXPECT_EQ(get("k"), "YXcd");
    // What was written reads back the same.
    EXPECT_EQ(run("s: \"a^/b ü €\" write %<dir>/r s s = read %<dir>/r"), "true");
    EXPECT_EQ(run("b: #{000102FEFF} write/binary %<dir>/r b b = read/binary %<dir>/r"), "true");
}

TEST_F(FileIo, DirectoriesAndFileRoutines) {
    put("b.txt", "12345");
    put("a.txt", "");
    fs::create_directory(dir / "sub");
    check({
        {"read %<dir>/", "[%a.txt %b.txt %sub/]"},  // sorted, directories end in a slash
        {"read %<dir>/sub/", "[]"},
        {"read %<dir>/sub/.", "[]"},
        {"read %<dir>/missing/", "error: access/cannot-open"},
        {"read %<dir>/missing.txt", "error: access/cannot-open"},
        {"read %<dir>/sub", "error: access/cannot-open"},  // a directory has no text
        {"exists? %<dir>/b.txt", "true"},
        {"exists? %<dir>/sub", "true"},
        {"exists? %<dir>/sub/", "true"},
        {"exists? %<dir>/nothing", "false"},
        {"exists? %\"\"", "false"},
        {"size? %<dir>/b.txt", "5"},
        {"size? %<dir>/a.txt", "0"},
        {"size? %<dir>/nothing", "none"},
        {"size? %<dir>/sub", "none"},
        {"create-dir %<dir>/new/", "unset"},
        {"exists? %<dir>/new/", "true"},
        {"create-dir %<dir>/new/", "error: access/no-create"},
        {"create-dir %<dir>/x/y/", "error: access/no-create"},
        {"delete %<dir>/b.txt", "true"},
        {"exists? %<dir>/b.txt", "false"},
        {"delete %<dir>/b.txt", "false"},
        {"delete %<dir>/new/", "true"},
        {"write %<dir>/sub/f \"\" delete %<dir>/sub/", "false"},  // only an empty directory goes
        {"exists? %<dir>/sub/f", "true"},
        {"e: try [read %<dir>/nothing] e/arg1 = %<dir>/nothing", "true"},
    });
}

TEST_F(FileIo, CurrentDirectory) {
    fs::path before = fs::current_path();
    std::string expected = "\"" + fs::canonical(dir).string() + "/\"";
    check({
        {"set-current-dir %<dir>", "unset"},
        {"get-current-dir", expected.c_str()},
        {"write %rel.txt \"r\" read %<dir>/rel.txt", "\"r\""},
        {"set-current-dir %<dir>/missing", "error: access/cannot-open"},
        {"get-current-dir", expected.c_str()},
    });
    fs::current_path(before);
}

