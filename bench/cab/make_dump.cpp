// Writes real minidumps for the benchmark with the report client's own dump
// writer: starts a program, waits for its first output line, stops it and
// dumps it (dump type 0 = normal, 2 = full memory).
//
//   make_dump OUT TYPE PROGRAM [ARGS...]
#include "minidump_writer.h"
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_dump OUT TYPE PROGRAM [ARGS...]\n");
        return 2;
    }
    int fds[2];
    if (pipe(fds) != 0) return 1;
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
    }
    int status = 1;
    {
        ulmarro::CrashedProcess p;
        ulmarro::Failure f = p.Find(static_cast<std::uint64_t>(child));
        if (!f.failed()) f = p.Suspend();
        if (!f.failed()) f = p.ReadModules();
        int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!f.failed() && out >= 0)
            f = ulmarro::WriteMinidump(p, static_cast<std::uint32_t>(std::stoul(argv[2])), out);
        if (out >= 0) close(out);
        if (f.failed())
            std::fprintf(stderr, "make_dump: %s\n", f.Describe().c_str());
        else
            status = 0;
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return status;
}
