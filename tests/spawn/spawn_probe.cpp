// A tool for zkspawn's tests to run: what it does is chosen by its first
// argument, and it reports what it was given on standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::puts("probe: no command");
        return 2;
    }
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "args") == 0) {
        // One bracketed argument a line, so empty ones and blanks show.
        std::printf("argc %d\n", argc - 2);
        for (int i = 2; i < argc; ++i)
            std::printf("[%s]\n", argv[i]);
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
            for (;;)
                pause();
        }
        std::printf("ready %d %d\n", static_cast<int>(getpid()), static_cast<int>(child));
        std::fflush(stdout);
        for (;;)
            pause();
    }
    std::printf("probe: unknown command %s\n", cmd);
    return 2;
}
