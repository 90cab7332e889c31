// The language-level library (environment/*.kov) through Kov text: the general helpers,
// load and save, the file and path functions and the boot arguments.
//
// The fixture runs the library sources after the boot files. Until the system object exists,
// a small stand-in holds the fields the library reads (options, codecs, lexer, script,
// state, standard, locale); a codec object stand-in records what it was handed.
#include <filesystem>
#include <fstream>

#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

namespace {

void run_environment_file(const char* name) {
    std::ifstream in(std::string(KOV_SOURCE_DIR) + "/environment/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    ASSERT_FALSE(text.empty()) << name;
    boot::run_source(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name);
}

// The fields of the system object that the library reads, for as long as the boot sources
// do not make it.
const char* const system_stand_in = R"~(
system: context [
	options: context [path: %/ boot: none args: none cache: none]
	codecs: copy []
	lexer: context [
		pre-load: none
		err-pos: none
		trapper: func [event input type line token] [[error] system/lexer/err-pos: index? input true]
	]
	script: context [title: none header: none parent: none path: none args: none]
	state: context [source-files: copy []]
	standard: context [header: context [Title: Name: Type: Version: Date: File: Author: Needs: none]]
	locale: context [currencies: context [list: copy [EUR USD]]]
]
)~";

// A codec that records what it is handed, registered under the name `text`.
const char* const test_codec = R"~(
test-codec: context [
	title: "Test codec" name: 'text mime-type: [text/test] suffixes: [%.tst %.test]
	log: copy []
	decode: func [data] [append/only log data reduce ['decoded data]]
	encode: func [data where] [append/only log reduce [data where] either where [where] [#{7465737420}]]
]
either block? system/codecs [append system/codecs reduce ['text test-codec]] [put system/codecs 'text test-codec]
)~";

struct Library : Kov {
    static void SetUpTestSuite() {
        static bool loaded = false;
        if (loaded || !boot_failure().empty()) return;
        loaded = true;
        if (eval("value? 'system") != "true") eval(system_stand_in);
        eval(test_codec);
        // Errors raised by language functions, named as the harness names the others.
        eval("fails: func [code /local r] [either error? set/any 'r try code [rejoin [r/type \"/\" r/id]] [:r]]");
        for (const char* name : {"helpers.kov", "load-save.kov", "files.kov", "boot-args.kov"}) {
            run_environment_file(name);
        }
    }
    Library() { SetUpTestSuite(); }
};

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

}  // namespace

TEST_F(Library, SeriesHelpers) {
    check({
        {"b: [1 2 1] reduce [alter b 1 b]", "[false [2 1]]"},
        {"b: [1] reduce [alter b 3 b]", "[true [1 3]]"},
        {"s: \"ab\" reduce [alter s #\"c\" s]", "[true \"abc\"]"},
        {"offset? \"abc\" skip \"abc\" 2", "2"},
        {"s: \"abc\" offset? skip s 2 s", "-2"},
        {"repend [1] [1 + 1 3]", "[1 2 3]"},
        {"repend/only [1] [1 + 1 3]", "[1 [2 3]]"},
        {"repend \"a\" [1 + 1 \"b\"]", "\"a2 b\""},  // inserted as one value
        {"b: next [0] repend b [1] b", "[1]"},
        {"repend next [0] [1]", "[0 1]"},
        {"last? [1]", "true"},
        {"last? next [1 2]", "true"},
        {"last? []", "false"},
        {"single? [1 2]", "false"},
        {"extract [1 2 3 4 5] 2", "[1 3 5]"},
        {"extract [1 2 3] 0", "[1 2 3]"},
        {"extract \"abcdef\" 3", "\"ad\""},
        {"extract/index [1 2 3 4] 2 2", "[2 4]"},
        {"extract/into [1 2 3 4] 2 [x]", "[x 1 3]"},
        {"extract [[a] [b]] 1", "[[a] [b]]"},
        {"collect [keep 1 keep [2 3] keep/only [4]]", "[1 2 3 [4]]"},
        {"collect [foreach x [1 2 3] [if odd? x [keep x]]]", "[1 3]"},
        {"collect [keep (1 + 1) (keep 3)]", "[2 3]"},
        {"b: [x] collect/into [keep 1] b b", "[x 1]"},
        {"b: next [x] collect/into [keep 1] b", "[1]"},
        {"collect [keep collect [keep 1]]", "[1]"},
        {"collect []", "[]"},
        {"rejoin [\"a\" 1 [2 3]]", "\"a123\""},
        {"rejoin [%a \"b\" 1]", "%ab1"},
        {"rejoin [1 2]", "\"12\""},
        {"rejoin [[a] [b] 'c]", "[a [b] c]"},
        {"rejoin []", "[]"},
        {"rejoin [1 + 1 \"x\"]", "\"2x\""},
        {"s: \"a\" rejoin [s \"b\"] s", "\"a\""},  // the first series is copied
        {"pad \"ab\" 5", "\"ab   \""},
        {"pad/left/with \"ab\" 5 #\"*\"", "\"***ab\""},
        {"pad \"abc\" 2", "\"abc\""},
        {"pad 12 4", "\"12  \""},
        {"s: \"x\" pad s 2 s", "\"x \""},  // in place
        {"split \"a,b\" #\",\"", "[\"a\" \"b\"]"},
        {"split \"a,,b\" #\",\"", "[\"a\" \"\" \"b\"]"},
        {"split \"a,b,\" \",\"", "[\"a\" \"b\" \"\"]"},
        {"split \"\" #\",\"", "[\"\"]"},
        {"split \"a::b::c\" \"::\"", "[\"a\" \"b\" \"c\"]"},
        {"split \"abc\" \"\"", "[\"abc\"]"},
        {"split %a/b #\"/\"", "[%a %b]"},
    });
}

TEST_F(Library, Replace) {
    check({
        {"replace \"abab\" #\"a\" #\"x\"", "\"xbab\""},
        {"replace/all \"abab\" #\"a\" #\"x\"", "\"xbxb\""},
        {"replace/all \"aAa\" \"a\" \"b\"", "\"bbb\""},
        {"replace/all/case \"aAa\" \"a\" \"b\"", "\"bAb\""},
        {"replace \"a1b\" 1 \"-\"", "\"a-b\""},  // a pattern that is no string is formed
        {"replace/all \"abcabc\" \"bc\" \"\"", "\"aa\""},
        {"replace/all \"aaa\" \"a\" \"aa\"", "\"aaaaaa\""},  // the search goes on after the inserted value
        {"s: next \"xab\" replace s \"a\" \"y\"", "\"yb\""},
        {"replace [1 2 3 2 3] [2 3] 'x", "[1 x 2 3]"},
        {"replace/all [1 2 3 2 3] [2 3] 'x", "[1 x x]"},
        {"replace/all [1 [1] 1] 1 0", "[0 [1] 0]"},
        {"n: 0 f: does [n: n + 1] replace/all [a b a] 'a :f", "[1 b 2]"},
        {"replace [1 2] 3 4", "[1 2]"},
        {"replace/all \"abc\" \"\" \"x\"", "\"abc\""},  // an empty pattern matches nothing
        {"replace #{0102} #{01} #{FF}", "#{FF02}"},
        {"fails [replace/deep [[1]] 1 2]", "\"internal/not-done\""},
        {"fails [replace \"abc\" [\"b\"] \"x\"]", "\"internal/not-done\""},
    });
}

TEST_F(Library, Arithmetic) {
    check({
        {"math [1 + 2 * 3]", "7"},
        {"math [2 ** 3 ** 2]", "512"},
        {"math [(1 + 2) * 3]", "9"},
        {"math [2 * (3 + 4 * 5) - 1]", "45"},
        {"math [10 - 6 / 2 % 2]", "9"},
        {"math [7 // 3 + 1]", "2"},
        {"b: [1 + 2 * 3] math b b", "[1 + 2 * 3]"},  // the block itself is left alone
        {"math [1 / 0]", "error: math/zero-divide"},
        {"math/safe [1 + (1 / 0)]", "none"},
        {"math/safe [1 + 2 * 3]", "7"},
        {"mod -7 3", "2"},
        {"mod 7 3", "1"},
        {"mod -6 3", "0"},
        {"mod 7.5 2", "1.5"},
        {"mod 1 0", "error: math/zero-divide"},
        {"modulo -7 3", "2"},
        {"modulo 7 -3", "1"},
        {"modulo 1e30 7.0", "0"},
        {"-7 // 3", "2"},
        {"sum []", "0"},
        {"sum [1 2 3]", "6"},
        {"sum [1.5 2]", "3.5"},
        {"average []", "none"},
        {"average [1 2 3 6]", "3"},
        {"average [1 2]", "1.5"},
        {"sqrt 16", "4.0"},
        {"cos 0.0", "1.0"},
        {"sin 0.0", "0.0"},
        {"tan 0.0", "0.0"},
        {"acos 1.0", "0.0"},
        {"asin 0.0", "0.0"},
        {"atan 0.0", "0.0"},
        {"atan2 0 1", "0.0"},
        {"(atan2 1 1) = (pi / 4)", "true"},
        {"eval-set-path 1", "unset"},
    });
}

TEST_F(Library, CauseError) {
    check({
        {"e: try [cause-error 'script 'invalid-arg [1 + 1]] reduce [e/type e/id e/arg1 e/arg2]",
         "[script invalid-arg 2 none]"},
        {"e: try [cause-error 'access 'cannot-open \"f\"] reduce [e/id e/arg1]", "[cannot-open \"f\"]"},
        {"e: try [cause-error 'script 'expect-arg [1 2 3 4]] reduce [e/arg1 e/arg2 e/arg3]", "[1 2 3]"},
        {"e: try [cause-error 'user 'message [\"m\"]] e/arg1", "\"m\""},
    });
}

TEST_F(Library, Suffix) {
    check({
        {"suffix? %a.b/c", "none"},
        {"suffix? %archive.tar.gz", "%.gz"},
        {"suffix? %a.b/c.tar", "%.tar"},
        {"suffix? \"abc\"", "none"},
        {"suffix? \"x.txt\"", "%.txt"},
        {"suffix? http://h.com/a.html", "%.html"},
        {"suffix? a@b.org", "%.org"},
    });
}

TEST_F(Library, LoadText) {
    check({
        {"load \"1\"", "1"},
        {"load \"1 2\"", "[1 2]"},
        {"load/all \"1\"", "[1]"},
        {"load \"\"", "[]"},
        {"load #{312032}", "[1 2]"},
        {"load/part \"1 2\" 0", "[]"},
        {"s: \"1 2\" load/part s s", "[]"},
        {"load/part \"12 3\" 2", "12"},
        {"s: \"1 2 3\" load/part s find s \"3\"", "[1 2]"},
        {"b: [] load/into \"1\" b", "1"},
        {"b: [0] load/into \"1\" b", "[0 1]"},
        {"b: [] load/into \"1 2\" b b", "[1 2]"},
        {"reduce [load/next \"1 [2]\" 'p p]", "[1 \" [2]\"]"},
        {"reduce [load/next/all \"1 2\" 'p p]", "[[1] \" 2\"]"},
        {"load/trap \"1 2\"", "[[1 2] none none]"},
        {"r: load/trap \"1 [\" reduce [r/2 r/3/id]", "[\"[\" missing]"},
        {"load \"1 [\"", "error: syntax/missing"},
        {"system/lexer/pre-load: func [src part] [insert src \"1 \"] also load \"2\" system/lexer/pre-load: none",
         "[1 2]"},
    });
}

TEST_F(Library, LoadAndSaveThroughCodecs) {
    check({
        {"clear test-codec/log load %pic.tst", "[decoded %pic.tst]"},
        {"load/as %pic.TEST none", "[decoded %pic.TEST]"},
        {"load/as \"raw\" 'text", "[decoded \"raw\"]"},
        {"fails [load/as \"raw\" 'nope]", "\"script/invalid-refine-arg\""},
        {"e: try [load/as \"raw\" 'nope] reduce [e/arg1 e/arg2]", "[/as nope]"},
        {"test-codec/log", "[%pic.tst %pic.TEST \"raw\"]"},
        {"clear test-codec/log save %out.tst [1 2]", "unset"},  // the codec wrote the target itself
        {"test-codec/log", "[[[1 2] %out.tst]]"},
        {"save/as none [1 2] 'text", "#{7465737420}"},
        {"fails [save/as none 1 'nope]", "\"script/invalid-refine-arg\""},
    });
}

TEST_F(Library, SaveText) {
    check({
        {"save none [1 2]", "#{312032}"},
        {"save none 3", "#{33}"},
        {"to string! save/all none [1 \"a\"]", "{1 \"a\"^/}"},
        {"to string! save/length none [a b]", "{Kov [^/^-length: 3^/]^/^/a b}"},
        {"h: context [Title: \"T\" Date: none Flag: false Ok: true] to string! save/header none [x] h",
         "{Kov [^/^-Title: \"T\"^/^-Ok: true^/]^/^/x}"},
        {"to string! save/header/length none 1 [length: 99 Title: \"T\"]",
         "{Kov [^/^-length: 1^/^-Title: \"T\"^/]^/^/1}"},
        {"h: context [Title: \"T\" v: 2] to string! save/header none 1 h", "{Kov [^/^-Title: \"T\"^/^-v: 2^/]^/^/1}"},
        {"s: copy \"x\" save s [1 2] s", "\"x1 2\""},
        {"b: copy #{00} save b 1 b", "#{0031}"},
        {"save/as none \"a\" none", "#{226122}"},
    });
}

TEST_F(Library, ScanAndSend) {
    check({
        {"scan \"12\"", "integer!"},
        {"scan \"\"", "none"},
        {"scan \"1a\"", "error!"},
        {"scan/next \"12 a\"", "[integer! \" a\"]"},
        {"scan/fast \"abc\"", "word!"},
        {"scan/fast/next #{3132}", "[integer! #{}]"},
        {"send context [a: 1] 'x", "none"},
        {"send a@b.c \"m\"", "unset"},
    });
}

TEST_F(Library, KovFileNames) {
    check({
        {"to-kov-file \"\"", "%\"\""},
        {"to-kov-file \"D:/x\"", "%/D/x"},
        {"to-kov-file \"D:\\Users\\x\"", "%/D/Users/x"},
        {"to-kov-file \"a\\\\\"", "%a/"},
        {"to-kov-file \"a\\\\b//c\"", "%a/b/c"},
        {"to-kov-file \"a/:b\"", "%a/"},
        {"to-kov-file \"C:x:y\"", "%C/x"},
        {"to-kov-file %/home/x", "%/home/x"},
        {"dir? %a/", "true"},
        {"dir? %a", "false"},
        {"dir? %\"\"", "false"},
        {"dir? http://a/", "true"},
        {"dirize %a/", "%a/"},
        {"f: %a/ same? f dirize f", "false"},
        {"dirize %\"\"", "%/"},
        {"dirize \"a\"", "\"a/\""},
        {"dirize http://a", "http://a/"},
        {"split-path %a/b/", "[%a/ %b/]"},
        {"split-path %a", "[%./ %a]"},
        {"split-path %/", "[%/ none]"},
        {"split-path %../", "[%../ none]"},
        {"split-path %.", "[%./ none]"},
        {"split-path %/a/b/c.txt", "[%/a/b/ %c.txt]"},
        {"split-path %a/..", "[%a/ %../]"},
        {"split-path http://h/p/f", "[http://h/p/ %f]"},
    });
}

TEST_F(Library, CleanPathAndDirectories) {
    eval("saved: system/options/path set-quiet in system/options 'path %/D/Users/x/");
    check({
        {"what-dir", "%/D/Users/x/"},
        {"same? what-dir system/options/path", "false"},
        {"clean-path %/a/../../b", "%/b"},
        {"clean-path %/a/b/", "%/a/b/"},
        {"clean-path %/a/./b/../c/", "%/a/c/"},
        {"clean-path %/a//b", "%/a/b"},
        {"clean-path/only %a/./b", "%a/./b"},
        {"clean-path/only/dir %a", "%a/"},
        {"clean-path/dir %/a", "%/a/"},
        {"clean-path %a/../b", "%/D/Users/x/b"},
        {"clean-path %//tmp", "%/D/tmp"},
        {"clean-path %///tmp", "%/D/Users/tmp"},
        {"clean-path %/", "%/"},
        {"clean-path http://h/a/../b/", "http://h/b/"},
        {"clean-path http://h//a", "http://h//a"},
        {"clean-path/only http://h/a/../b", "http://h/a/../b"},
        {"clean-path \"/a/./b\"", "\"/a/b\""},
        {"normalize-dir %/p/q", "%/p/q/"},
        {"normalize-dir 'sub", "%/D/Users/x/sub/"},
        {"normalize-dir %a\\b", "%/D/Users/x/a/b/"},
        {"normalize-dir %../y", "%/D/Users/y/"},
    });
    eval("set-quiet in system/options 'path saved");
}

TEST_F(Library, ExtractBootArgs) {
    struct Line {
        const char* command_line;
        const char* args;
        const char* boot;
        const char* rest;
    };
    const Line lines[] = {
        {R"("C:\a b\kov.exe" script.kov --x)", R"(["script.kov" "--x"])", R"("C:\a b\kov.exe")", R"("script.kov --x")"},
        {R"(kov "a b" c)", R"(["a b" "c"])", R"("kov")", R"({"a b" c})"},
        {R"(kov --opt="v w")", R"([{--opt="v w}])", R"("kov")", R"({--opt="v w"})"},
        {R"(kov "" ")", R"(["" ""])", R"("kov")", R"({"" "})"},
        {"kov  \t a   b", R"(["a" "b"])", R"("kov")", R"("a   b")"},
        {"  kov a", R"(["a"])", R"("kov")", R"("kov a")"},
        {"kov", "[]", R"("kov")", R"("")"},
        {"", "[]", "none", R"("")"},
        {R"(k\x "a\" b)", R"(["a\" "b"])", R"("k\x")", R"({"a\" b})"},
    };
    for (const Line& l : lines) {
        std::string set = std::string("system/script/args: ") + mold(*str(l.command_line)) + " extract-boot-args";
        EXPECT_EQ(eval(set), l.args) << l.command_line;
        EXPECT_EQ(eval("system/options/args"), l.args) << l.command_line;
        EXPECT_EQ(eval("system/options/boot"), l.boot) << l.command_line;
        EXPECT_EQ(eval("system/script/args"), l.rest) << l.command_line;
    }
    EXPECT_EQ(eval("system/script/args: none extract-boot-args"), "unset");
}

namespace {

// Library functions that touch files, in a scratch directory named <dir> in the Kov text.
struct LibraryFiles : Library {
    std::filesystem::path dir;
    LibraryFiles() {
        dir = std::filesystem::temp_directory_path() /
              (std::string("kov-library-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~LibraryFiles() override { std::filesystem::remove_all(dir); }
    std::string at(std::string text) const {
        for (size_t p; (p = text.find("<dir>")) != std::string::npos;) text.replace(p, 5, dir.string());
        return text;
    }
    std::string run(const std::string& source) const { return eval(at(source)); }
    void check(std::initializer_list<Case> cases) const {
        for (const Case& c : cases) EXPECT_EQ(run(c.source), at(c.result)) << c.source;
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

TEST_F(LibraryFiles, LoadAndSaveFiles) {
    put("code.txt", "1 [a b]");
    check({
        {"load %<dir>/code.txt", "[1 [a b]]"},
        {"load/all %<dir>/code.txt", "[1 [a b]]"},
        {"save %<dir>/out.txt [x \"y\"]", "unset"},
        {"load %<dir>/out.txt", "[x \"y\"]"},
        {"save/header %<dir>/h.txt [1] [Title: \"T\"]", "unset"},
        {"load %<dir>/", "[%code.txt %h.txt %out.txt]"},
        {"load %<dir>/missing.txt", "error: access/cannot-open"},
    });
    EXPECT_EQ(get("out.txt"), "x \"y\"");
    EXPECT_EQ(get("h.txt"), "Kov [\n\tTitle: \"T\"\n]\n\n1");
}

TEST_F(LibraryFiles, MakeAndChangeDirectories) {
    check({
        {"make-dir %<dir>/one", "%<dir>/one/"},
        {"exists? %<dir>/one/", "true"},
        {"make-dir %<dir>/one/", "%<dir>/one/"},  // no error when it exists
        {"make-dir %\"\"", "%\"\""},
        {"fails [make-dir %<dir>/no/two/]", "\"access/no-create\""},
        {"make-dir/deep %<dir>/one/a/b/c", "%<dir>/one/a/b/c/"},
        {"exists? %<dir>/one/a/b/c/", "true"},
        {"saved: system/options/path change-dir %<dir>/one/a", "%<dir>/one/a/"},
        {"system/options/path", "%<dir>/one/a/"},
        {"change-dir %b", "%<dir>/one/a/b/"},
        {"fails [change-dir %<dir>/none-such]", "\"access/cannot-open\""},
        {"system/options/path", "%<dir>/one/a/b/"},
        {"system/options/path: saved system/options/path = saved", "true"},
    });
    // A failing deep creation removes what it made and names the path that failed.
    std::string long_name(300, 'n');
    std::string deep = "%<dir>/x/y/" + long_name + "/";
    EXPECT_EQ(run("e: try [make-dir/deep " + deep + "] e/id"), "cannot-open");
    EXPECT_EQ(run("e/arg1 = " + deep), "true");
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
}

TEST_F(LibraryFiles, DoFile) {
    put("ok.kov", "; a comment line\nKov [Title: \"T\" currencies: [ABC]]\n"
                  "r: reduce [system/script/header/Title system/script/args what-dir length? system/state/source-files]\n"
                  "1 + 2");
    put("none.kov", "x: 1 Kov no bracket");
    put("system.kov", "Kov/System [] x: 1");
    put("fail.kov", "Kov [] 1 / 0");
    put("halt.kov", "Kov [] throw/name 'halt-request 'console");
    put("thrown.kov", "Kov [] throw/name 5 'console 6");
    check({
        {"parent: system/script dir: what-dir do-file %<dir>/ok.kov none [a 1]", "3"},
        {"r", "[\"T\" [a 1] %<dir>/ 1]"},
        {"same? parent system/script", "true"},
        {"system/options/path = dir", "true"},
        {"system/state/source-files", "[]"},
        {"last system/locale/currencies/list", "ABC"},
        {"fails [do-file %<dir>/none.kov none none]", "\"syntax/no-header\""},
        {"fails [do-file %<dir>/system.kov none none]", "\"internal/kov-system\""},
        {"fails [do-file %<dir>/fail.kov none none]", "\"math/zero-divide\""},
        {"reduce [same? parent system/script system/options/path = dir system/state/source-files]", "[true true []]"},
        {"do-file %<dir>/halt.kov none none", "unset"},
        {"do-file %<dir>/thrown.kov none none", "5"},
    });
}

TEST_F(LibraryFiles, FlipExeFlag) {
    std::string image = "MZ..PE" + std::string(90, '\0') + "\x02" + "tail";
    put("app.exe", image);
    put("kov.exe", image);
    put("plain.bin", "no signature here");
    check({
        {"flip-exe-flag %<dir>/app.exe", "unset"},
        {"pick read/binary %<dir>/app.exe 97", "3"},
        {"flip-exe-flag %<dir>/app.exe", "unset"},
        {"flip-exe-flag %<dir>/", "unset"},
        {"pick read/binary %<dir>/kov.exe 97", "3"},
        {"fails [flip-exe-flag %<dir>/plain.bin]", "\"script/invalid-data\""},
    });
    EXPECT_EQ(get("app.exe"), image);  // flipped twice, the bytes are as before
    EXPECT_EQ(get("plain.bin"), "no signature here");
}
