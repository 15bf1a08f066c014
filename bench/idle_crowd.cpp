// Fills the process table: forks a number of idle processes, prints "ready"
// once they all exist, and keeps them until it is told to end (SIGTERM,
// SIGINT or SIGHUP) or its parent ends. Every idle process dies with it.
//
//   idle_crowd COUNT
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

volatile sig_atomic_t told_to_end = 0;

void on_end(int) { told_to_end = 1; }

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2 || atoi(argv[1]) < 0) {
        fprintf(stderr, "usage: idle_crowd COUNT\n");
        return 2;
    }
    const int count = atoi(argv[1]);
    const pid_t crowd = getpid();

    // Blocked until the crowd is complete, so an early signal still reaches
    // the clean-up below instead of leaving half a crowd behind.
    sigset_t ending, previous;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    struct sigaction action = {};
    action.sa_handler = on_end;
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal_number, &action, nullptr);
    sigprocmask(SIG_BLOCK, &ending, &previous);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 1;  // the parent is gone already

    std::vector<pid_t> members;
    members.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; i++) {
        pid_t member = fork();
        if (member == 0) {
            // An idle process: no signal handlers of the crowd, and killed
            // outright should the crowd end in any way at all.
            signal(SIGTERM, SIG_DFL);
            signal(SIGINT, SIG_DFL);
            signal(SIGHUP, SIG_DFL);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != crowd) _exit(0);
            sigprocmask(SIG_SETMASK, &previous, nullptr);
            for (;;) pause();
        }
        if (member < 0) {
            perror("fork");
            break;
        }
        members.push_back(member);
    }
    if (static_cast<int>(members.size()) == count) {
        printf("ready\n");
        fflush(stdout);
        while (!told_to_end) sigsuspend(&previous);
    }
    for (pid_t member : members) kill(member, SIGKILL);
    for (pid_t member : members) waitpid(member, nullptr, 0);
    return static_cast<int>(members.size()) == count ? 0 : 1;
}
