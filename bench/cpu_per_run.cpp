// Runs a program a number of times and prints the CPU time each run took,
// user and system together, from the kernel's accounting of the ended child:
// time the program spends asleep (a sampling window, a wait) costs nothing.
//
//   cpu_per_run RUNS program [argument ...]
//
// The program's standard input and output are /dev/null. Prints one line:
//   runs=N median_ms=M mean_ms=A min_ms=L wall_ms=W
// and exits 1 when a run could not be started or did not end with status 0.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <vector>

extern char **environ;

namespace {

double seconds_of(const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double monotonic_seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: cpu_per_run RUNS program [argument ...]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

    std::vector<double> cpu_ms;
    double wall = 0;
    for (int run = 0; run < runs; run++) {
        double started = monotonic_seconds();
        pid_t child;
        if (posix_spawnp(&child, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
            perror(argv[2]);
            return 1;
        }
        int status = 0;
        rusage usage;
        if (wait4(child, &status, 0, &usage) != child) {
            perror("wait4");
            return 1;
        }
        wall += monotonic_seconds() - started;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s: run %d ended with status %d\n", argv[2], run + 1, status);
            return 1;
        }
        cpu_ms.push_back((seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime)) * 1000.0);
    }

    std::vector<double> sorted = cpu_ms;
    std::sort(sorted.begin(), sorted.end());
    double median = runs % 2 ? sorted[runs / 2] : (sorted[runs / 2 - 1] + sorted[runs / 2]) / 2;
    double sum = 0;
    for (double value : cpu_ms) sum += value;
    printf("runs=%d median_ms=%.3f mean_ms=%.3f min_ms=%.3f wall_ms=%.1f\n", runs, median,
           sum / runs, sorted[0], wall * 1000.0 / runs);
    return 0;
}
