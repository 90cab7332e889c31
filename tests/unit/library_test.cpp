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

const char* const system_stand_in = R"~(
system: context [
	options: context [path: %/ boot: none args: none cache: none]
	codecs: reduce [
		'text context [
			title: "Test codec" name: 'text mime-type: [text/test] suffixes: [%.tst %.test]
			log: copy []
			decode: func [data] [append/only log data reduce ['decoded data]]
			encode: func [data where] [append/only log reduce [data where] either where [where] [#{7465737420}]]
		]
	]
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

struct Library : Kov {
    static void SetUpTestSuite() {
        Kov::SetUpTestSuite();
        static bool loaded = false;
        if (loaded) return;
        loaded = true;
        if (eval("value? 'system") != "true") eval(system_stand_in);
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

TEST_F(Library, Scratch) {
    for (const char* s : {
"alter [1 2 1] 1", "offset? \"ab\" next \"ab\"", "repend [] [1 + 1]", "replace \"abab\" \"a\" \"x\"",
"replace/all \"abab\" \"a\" \"x\"", "math [1 + 2 * 3]", "math [2 ** 3 ** 2]", "math [(1 + 2) * 3]",
"extract [1 2 3 4] 2", "extract [1 2 3 4] 0", "collect [keep 1 keep [2 3]]", "split \"a,b\" #\",\"", "split \"\" #\",\"",
"split \"a,,b,\" \",\"", "rejoin [%a \"b\"]", "rejoin [1 2]", "rejoin []", "sum []", "sum [1 2]", "average []", "pad \"ab\" 5",
"pad/left/with \"ab\" 5 #\"*\"", "mod -7 3", "mod 7 3", "modulo 7 3", "7 // 3", "last? [1]", "single? [1 2]",
"e: try [cause-error 'script 'invalid-arg [1]] reduce [e/type e/id e/arg1]", "sqrt 4", "cos 0.0",
"suffix? %a.b/c", "suffix? %archive.tar.gz", "suffix? \"abc\"", "load \"1\"", "load \"1 2\"", "load/all \"1\"", "load \"\"",
"load/part \"1 2\" 0", "b: [] load/into \"1\" b", "b: [0] load/into \"1\" b", "load/next \"1 2\" 'p", "p",
"save none [1 2]", "save none 3", "to string! save/length none [a b]", "load/trap \"1 [\"",
"to-kov-file \"\"", "to-kov-file \"D:/x\"", "to-kov-file \"a\\\\\"", "to-kov-file \"D:\\Users\\x\"", "to-kov-file \"a/:b\"",
"dirize %a/", "dirize %\"\"", "dir? %a/", "clean-path %/a/../../b", "clean-path %/a/b/", "clean-path/only %a/./b",
"clean-path %/a/./b/../c/", "clean-path http://a/b/../c", "split-path %a/b/", "split-path %a", "split-path %/",
"what-dir", "system/script/args: copy {\"C:\\a b\\kov.exe\" script.kov --x} extract-boot-args",
"system/options/boot", "system/script/args", "scan \"1\"", "scan/next \"1 a\"", "scan/fast \"1\"",
    }) {
        std::cout << s << "  =>  " << eval(s) << "\n";
    }
}
