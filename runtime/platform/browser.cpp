#include "runtime/platform/browser.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace kov::os {

namespace {

std::vector<pid_t> children;

void reap_children() {
    std::erase_if(children, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

bool find_program(const std::string& name, std::string& path) {
    if (name.empty()) return false;
    if (name.find('/') != std::string::npos) {
        path = name;
        return access(path.c_str(), X_OK) == 0;
    }
    const char* search = getenv("PATH");
    std::string dirs = search ? search : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            path = dir + "/" + name;
            if (access(path.c_str(), X_OK) == 0) return true;
        }
        start = end + 1;
    }
    return false;
}

// One command of $BROWSER as its words, the target in place of "%s" or after the last word.
std::vector<std::string> command_words(const std::string& command, const std::string& target) {
    std::vector<std::string> words;
    bool placed = false;
    std::size_t i = 0;
    while (i < command.size()) {
        while (i < command.size() && command[i] == ' ') ++i;
        std::size_t end = command.find(' ', i);
        if (end == std::string::npos) end = command.size();
        if (end > i) {
            std::string word = command.substr(i, end - i);
            for (std::size_t at; (at = word.find("%s")) != std::string::npos;) {
                word.replace(at, 2, target);
                placed = true;
            }
            words.push_back(word);
        }
        i = end;
    }
    if (!words.empty() && !placed) words.push_back(target);
    return words;
}

bool spawn_detached(const std::string& path, const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int err = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return false;
    children.push_back(pid);
    return true;
}

}  // namespace

int open_in_browser(const char* target) {
    reap_children();
    std::vector<std::vector<std::string>> commands;
    if (const char* browser = getenv("BROWSER")) {
        std::string list = browser;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            std::vector<std::string> words = command_words(list.substr(start, end - start), target);
            if (!words.empty()) commands.push_back(std::move(words));
            start = end + 1;
        }
    }
    commands.push_back({"xdg-open", target});
    for (const std::vector<std::string>& words : commands) {
        std::string path;
        if (!find_program(words[0], path)) continue;
        return spawn_detached(path, words) ? browse_started : browse_failed;
    }
    return browse_no_browser;
}

}  // namespace kov::os
