// A tool for zkspawn's tests to run: what it does is chosen by its first
// argument, and it reports what it was given on standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::puts("probe: no command");
        return 2;
    }
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "args") == 0) {
        // One bracketed argument a line, so empty ones and blanks show.
        std::printf("argc %d\n", argc - 2);
        for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
        return 0;
    }
    if (std::strcmp(cmd, "exit") == 0 && argc > 2) {
        std::printf("exiting %s\n", argv[2]);
        std::fflush(stdout);
        std::fprintf(stderr, "to stderr\n");
        return std::atoi(argv[2]);
    }
    if (std::strcmp(cmd, "signal") == 0 && argc > 2) {
        std::fflush(stdout);
        std::signal(std::atoi(argv[2]), SIG_DFL);
        raise(std::atoi(argv[2]));
        return 99;
    }
    if (std::strcmp(cmd, "group") == 0) {
        std::printf("pid %d pgid %d parent-pgid %d\n", static_cast<int>(getpid()),
                    static_cast<int>(getpgrp()), static_cast<int>(getpgid(getppid())));
        return 0;
    }
    if (std::strcmp(cmd, "echo-input") == 0) {
        char buf[256];
        ssize_t n;
        while ((n = read(STDIN_FILENO, buf, sizeof buf)) > 0)
            if (write(STDOUT_FILENO, buf, static_cast<size_t>(n)) != n) return 3;
        return 0;
    }
    if (std::strcmp(cmd, "hold") == 0) {
        // Parent and child both hold standard output open, so the reader
        // sees its end only when the whole group has gone.
        pid_t child = fork();
        if (child == 0) {
            for (;;) pause();
        }
        std::printf("ready %d %d\n", static_cast<int>(getpid()), static_cast<int>(child));
        std::fflush(stdout);
        for (;;) pause();
    }
    if (std::strcmp(cmd, "getenv") == 0 && argc > 2) {
        const char* value = std::getenv(argv[2]);
        std::printf("%s=%s\n", argv[2], value ? value : "(unset)");
        return 0;
    }
    if (std::strcmp(cmd, "leave") == 0) {
        // Ends at once, leaving a child behind that holds standard output.
        pid_t child = fork();
        if (child == 0) {
            for (;;) pause();
        }
        std::printf("left %d\n", static_cast<int>(child));
        return 0;
    }
    if (std::strcmp(cmd, "stubborn") == 0) {
        // Deaf to every polite request, and so is the child it leaves
        // holding standard output: only a kill ends them.
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) std::signal(sig, SIG_IGN);
        pid_t child = fork();
        if (child == 0) {
            for (;;) pause();
        }
        std::printf("ready %d %d\n", static_cast<int>(getpid()), static_cast<int>(child));
        std::fflush(stdout);
        for (;;) pause();
    }
    if (std::strcmp(cmd, "own") == 0 && argc == 5) {
        // Starts zkspawn (argv[2]) the way the IDE does: as the leader of a
        // process group of its own, naming itself as the owner. Reports
        // zkspawn's end, and waits for it unless it is killed first.
        std::string owner = "ZKSPAWN_OWNER=" + std::to_string(getpid());
        std::vector<char*> env;
        for (char** e = environ; *e; ++e) env.push_back(*e);
        env.push_back(owner.data());
        env.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        char* args[] = {argv[2], argv[3], argv[4], nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[2], nullptr, &attr, args, env.data()) != 0) return 3;
        std::printf("owner %d zkspawn %d\n", static_cast<int>(getpid()), static_cast<int>(pid));
        std::fflush(stdout);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        if (WIFSIGNALED(status))
            std::printf("zkspawn signal %d\n", WTERMSIG(status));
        else
            std::printf("zkspawn exit %d\n", WEXITSTATUS(status));
        return 0;
    }
    std::printf("probe: unknown command %s\n", cmd);
    return 2;
}
