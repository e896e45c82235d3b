// Test support: a program run as a child, standard input from /dev/null, and its exit status,
// standard output and standard error collected.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace process {

struct result {
    int status = -1; // exit status; 127 when the program could not be started, -1 when killed
    std::string out{};
    std::string err{};
    bool started = false;
};

// Reads f from its start to its end, and closes it.
inline std::string read_and_close(std::FILE* f)
{
    std::string text;
    std::rewind(f);
    std::array<char, 4096> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0;)
        text.append(chunk.data(), n);
    std::fclose(f);
    return text;
}

// This process's environment with the NAME=value entries of extra in place of the same names.
inline std::vector<std::string> environment_with(const std::vector<std::string>& extra)
{
    const auto overridden = [&extra](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const std::string& e : extra)
            if (e.compare(0, name.size(), name) == 0)
                return true;
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (!overridden(*e))
            env.emplace_back(*e);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Pointers to the strings, ending in a null pointer, as exec takes them.
inline std::vector<char*> pointers_to(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts argv with standard input from /dev/null and output to out and err, in cwd when given;
// returns whether it started.
inline bool spawn(pid_t& pid, std::vector<std::string> argv, std::vector<std::string> env,
                  const std::string& cwd, std::FILE* out, std::FILE* err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(err), 2);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    const std::vector<char*> args = pointers_to(argv);
    const std::vector<char*> envp = pointers_to(env);
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0;
}

// Runs argv (argv[0] looked up on PATH unless it holds a "/") with the extra NAME=value
// entries of env, in cwd when given, and waits for it.
inline result run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                  const std::string& cwd = {})
{
    result r;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
        for (std::FILE* f : {out, err})
            if (f != nullptr)
                std::fclose(f);
        return r;
    }
    std::fflush(nullptr);
    pid_t pid = 0;
    r.started = spawn(pid, argv, environment_with(env), cwd, out, err);
    int status = 0;
    if (!r.started)
        r.status = 127;
    else if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    r.out = read_and_close(out);
    r.err = read_and_close(err);
    return r;
}

} // namespace process
