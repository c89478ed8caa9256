#include "sourcetree.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "text/utf8.h"

extern char** environ;

namespace fs = std::filesystem;

namespace sourcetree {

Tree generate(const fs::path& root) {
    static const char* const kWords[] = {"lib",    "core",   "net",  "util", "app",
                                         "pkg",    "module", "api",  "impl", "tools",
                                         "plugin", "common", "test", "doc",  "server"};
    static const char* const kFiles[] = {"main",     "index",  "util",  "README",
                                         "Makefile", "config", "types", "test",
                                         "handler",  "model",  "view",  "data"};
    static const char* const kExtensions[] = {".c", ".h", ".cpp", ".txt", ".json", ""};
    std::mt19937 random(42);
    Tree tree;
    tree.root = root;
    struct Node {
        fs::path path;
        size_t depth;
        int children;
    };
    std::vector<Node> nodes;
    nodes.reserve(kContainers);
    int rootChildren = 0;
    const bool exists = fs::exists(root / ".complete");
    // A folder without the marker holds an unfinished or foreign tree: adding to it would change
    // every figure.
    std::error_code error;
    if (!exists && fs::exists(root) && !fs::is_empty(root, error)) {
        std::fprintf(stderr, "%s holds no complete benchmark tree; remove it or name another\n",
                     root.c_str());
        std::exit(2);
    }
    auto makeFiles = [&](const fs::path& dir) {
        for (int k = 0; k < kFilesPerDirectory; ++k) {
            const std::string name = std::string(kFiles[random() % std::size(kFiles)]) + "_" +
                                     std::to_string(k) +
                                     kExtensions[random() % std::size(kExtensions)];
            const off_t size = static_cast<off_t>(random() % (1 << 20));
            if (exists)
                continue;
            const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!ftruncate(fd, size);
                ::close(fd);
            }
        }
    };
    if (!exists)
        fs::create_directories(root);
    for (int i = 0; i < kContainers; ++i) {
        // A third start at the top; the others go below a recent directory, which makes chains.
        Node* parent = nullptr;
        if (!nodes.empty() && random() % 3 != 0) {
            const size_t back = std::min<size_t>(nodes.size() - 1, random() % 8);
            parent = &nodes[nodes.size() - 1 - back];
            if (parent->depth >= 40)
                parent = &nodes[random() % nodes.size()];
        }
        const int index = parent ? parent->children++ : rootChildren++;
        const fs::path base = parent ? parent->path : root;
        const fs::path path = base / (std::string(kWords[random() % std::size(kWords)]) + "-" +
                                      std::to_string(index));
        nodes.push_back({path, parent ? parent->depth + 1 : 1, 1});
        if (!exists) {
            fs::create_directory(path);
            fs::create_directory(path / "src");
        }
        makeFiles(path);
        makeFiles(path / "src");
        const std::wstring src = utf8::toWide((path / "src").string());
        if (nodes.back().depth + 1 > tree.deepestLevels) {
            tree.deepestLevels = nodes.back().depth + 1;
            tree.deepest = src;
        }
        if (i % 157 == 0)
            tree.srcs.push_back(src);
    }
    if (!exists)
        std::ofstream(root / ".complete").put('1');
    return tree;
}

std::string takeTreeArgument(int argc, char** argv, std::vector<char*>& rest) {
    std::string tree;
    rest.assign(argv, argv + (argc > 0 ? 1 : 0));
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--tree=", 7) == 0)
            tree = argv[i] + 7;
        else
            rest.push_back(argv[i]);
    }
    return tree;
}

double runTimed(const std::vector<std::string>& args, std::string* output, long* peakKiB) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        if (output)
            output->append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double ms = msSince(start);
    if (peakKiB)
        *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

}  // namespace sourcetree
