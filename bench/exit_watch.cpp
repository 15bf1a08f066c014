// Watches the servers that run in one directory: every process whose image
// is NAME and whose current directory is DIRECTORY. Prints a line when one
// is first seen and when it has ended, times in seconds on the boot clock:
//
//   exit_watch NAME DIRECTORY
//   start PID STARTED      (STARTED: when the kernel created the process)
//   end PID STARTED ENDED  (ENDED: first poll that found it gone or a zombie)
//
// New processes are looked for every 20 ms; the known ones are polled every
// 2 ms, so an end is seen within about 2 ms. Runs until it is told to end.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

double boot_seconds() {
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Reads /proc/PID/stat: its image name (comm), state and start time in
// seconds since boot. Returns false when the process is gone.
bool read_stat(long pid, std::string *name, char *state, double *started) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE *file = fopen(path, "re");
    if (file == nullptr) return false;
    char text[1024];
    size_t length = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[length] = '\0';
    // The name stands in parentheses and may itself hold ") ": the last
    // parenthesis ends it.
    char *open = strchr(text, '(');
    char *close = strrchr(text, ')');
    if (open == nullptr || close == nullptr || close[1] == '\0') return false;
    name->assign(open + 1, static_cast<size_t>(close - open - 1));
    *state = close[2];
    // Field 22 (starttime) is the 20th after the state.
    char *field = close + 2;
    for (int i = 0; i < 19 && field != nullptr; i++) {
        field = strchr(field, ' ');
        if (field != nullptr) field++;
    }
    if (field == nullptr) return false;
    *started = static_cast<double>(atoll(field)) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return true;
}

bool alive(char state) { return state != 'Z' && state != 'X' && state != 'x'; }

bool works_in(long pid, const char *directory) {
    char path[64], target[PATH_MAX];
    snprintf(path, sizeof path, "/proc/%ld/cwd", pid);
    ssize_t length = readlink(path, target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    return strcmp(target, directory) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: exit_watch NAME DIRECTORY\n");
        return 2;
    }
    const std::string image = argv[1];
    char directory[PATH_MAX];
    if (realpath(argv[2], directory) == nullptr) {
        perror(argv[2]);
        return 1;
    }
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    std::map<long, double> known;  // PID -> start time
    for (int round = 0;; round++) {
        if (round % 10 == 0) {
            DIR *proc = opendir("/proc");
            if (proc == nullptr) return 1;
            while (dirent *entry = readdir(proc)) {
                char *end;
                long pid = strtol(entry->d_name, &end, 10);
                if (*end != '\0' || pid <= 0 || known.count(pid)) continue;
                std::string name;
                char state;
                double started;
                if (!read_stat(pid, &name, &state, &started) || name != image || !alive(state)) continue;
                if (!works_in(pid, directory)) continue;
                known[pid] = started;
                printf("start %ld %.3f\n", pid, started);
            }
            closedir(proc);
        }
        for (auto it = known.begin(); it != known.end();) {
            std::string name;
            char state = 'X';
            double started = 0;
            bool present = read_stat(it->first, &name, &state, &started);
            // A recycled PID belongs to another process: the server has ended.
            if (!present || !alive(state) || started != it->second || name != image) {
                printf("end %ld %.3f %.3f\n", it->first, it->second, boot_seconds());
                it = known.erase(it);
            } else {
                ++it;
            }
        }
        usleep(2000);
    }
}
