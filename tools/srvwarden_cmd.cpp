// srvwarden-cmd.exe: the command interpreter srvwarden uses on POSIX systems.
//
// It receives the command line the way a Windows interpreter does, as one
// text (several arguments are joined with single spaces), and runs the one
// command it names; see command_parse.h for what it understands.
//
// Exit status: the program's own status for a command that is run; 0 once
// `start` has launched its program; 1 when the redirect file cannot be
// written; 2 for a command line it does not understand; 126 when the program
// cannot be run; 127 when it cannot be found.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "command_parse.h"

namespace {

const char program_name[] = "srvwarden-cmd.exe";

// Where `start` sends the launched program's standard output and error,
// appended, in the current directory.
const char start_log[] = "start.log";

void complain(const std::string &message) {
    std::string line = std::string(program_name) + ": " + message + "\n";
    if (write(2, line.data(), line.size()) < 0) {
    }
}

bool is_executable_file(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string own_directory() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    std::string self(path, static_cast<size_t>(length));
    size_t slash = self.rfind('/');
    return slash == std::string::npos ? "" : self.substr(0, slash);
}

// A name with a slash is a path and is used as it stands. Any other name is
// looked for in the current directory first, as a Windows interpreter does,
// then beside this interpreter, so that the installed programs find each
// other without PATH, and then on PATH. Returns "" when nothing is found.
std::string find_program(const std::string &name) {
    if (name.find('/') != std::string::npos) return is_executable_file(name) ? name : "";
    std::vector<std::string> directories = {"."};
    std::string own = own_directory();
    if (!own.empty()) directories.push_back(own);
    const char *path = getenv("PATH");
    if (path != nullptr) {
        std::string list = path;
        size_t start = 0;
        for (;;) {
            size_t colon = list.find(':', start);
            std::string directory = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            directories.push_back(directory.empty() ? "." : directory);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    for (const std::string &directory : directories) {
        std::string candidate = directory + "/" + name;
        if (is_executable_file(candidate)) return candidate;
    }
    return "";
}

std::vector<char *> argv_of(const parsed_command &command) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(command.program.c_str()));
    for (const std::string &argument : command.arguments) argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int nice_value(start_priority priority) {
    switch (priority) {
    case start_priority::low: return 19;
    case start_priority::below_normal: return 10;
    case start_priority::normal: return 0;
    case start_priority::above_normal: return -5;
    case start_priority::high: return -10;
    }
    return 0;
}

// Closes every descriptor from `first` on.
void close_from(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0u) == 0) return;
#endif
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = first; fd < limit; fd++) close(fd);
}

// The launched program's side of `start`: a clean slate of signals, no
// terminal, no descriptors but its three, the priority asked for. Reports a
// failed exec through `report` and never returns.
[[noreturn]] void become_started_program(const parsed_command &command, const std::string &path, int report) {
    for (int signal_number = 1; signal_number < NSIG; signal_number++) signal(signal_number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    // Out of the way of the three standard descriptors set up next.
    int moved = fcntl(report, F_DUPFD_CLOEXEC, 10);
    if (moved >= 0) report = moved;
    int input = open("/dev/null", O_RDONLY);
    int output = open(start_log, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (output < 0) output = open("/dev/null", O_WRONLY);
    if (input >= 0) dup2(input, 0);
    if (output >= 0) {
        dup2(output, 1);
        dup2(output, 2);
    }
    // Keep the report pipe as descriptor 3 (close-on-exec) and close the rest,
    // so the server holds none of the watchdog's or its caller's files.
    if (dup2(report, 3) == 3) {
        report = 3;
        fcntl(report, F_SETFD, FD_CLOEXEC);
        close_from(4);
    }

    // Raising the priority needs a privilege; without it the program runs at
    // the priority it inherited, which is what the caller gets without a word.
    setpriority(PRIO_PROCESS, 0, nice_value(command.priority));

    std::vector<char *> argv = argv_of(command);
    execv(path.c_str(), argv.data());
    int error = errno;
    if (write(report, &error, sizeof error) < 0) {
    }
    _exit(127);
}

int start_detached(const parsed_command &command, const std::string &path) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        complain("cannot start '" + command.program + "': " + strerror(errno));
        return 126;
    }
    // Two forks: the middle process makes a session of its own and ends at
    // once, so the program is reparented to whoever reaps orphans and never
    // becomes a zombie of ours or of the watchdog, and it has no controlling
    // terminal, so a Ctrl-C at the watchdog's console does not reach it.
    pid_t middle = fork();
    if (middle < 0) {
        complain("cannot start '" + command.program + "': " + strerror(errno));
        return 126;
    }
    if (middle == 0) {
        close(report[0]);
        setsid();
        pid_t program = fork();
        if (program == 0) become_started_program(command, path, report[1]);
        if (program < 0) {
            int error = errno;
            if (write(report[1], &error, sizeof error) < 0) {
            }
        }
        _exit(0);
    }
    close(report[1]);
    int status;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a word once the exec has succeeded.
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        complain("cannot start '" + command.program + "': " + strerror(error));
        return 126;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string line;
    for (int i = 1; i < argc; i++) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    parsed_command command;
    std::string error = parse_command_line(line, &command);
    if (!error.empty()) {
        complain(error);
        return 2;
    }

    // The file is created, or emptied, before the program is looked for, as a
    // Windows interpreter does: a missing program still leaves it empty.
    if (!command.redirect.empty()) {
        int file = open(command.redirect.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (file < 0) {
            complain("cannot write '" + command.redirect + "': " + strerror(errno));
            return 1;
        }
        if (file != 1) {
            if (dup2(file, 1) < 0) {
                complain("cannot write '" + command.redirect + "': " + strerror(errno));
                return 1;
            }
            close(file);
        } else {
            fcntl(file, F_SETFD, 0);
        }
    }

    std::string path = find_program(command.program);
    if (path.empty()) {
        complain("cannot find program '" + command.program + "'");
        return 127;
    }
    if (command.kind == command_kind::start) return start_detached(command, path);

    // Nothing is left to do afterwards, so the interpreter becomes the program
    // and its caller waits for the program itself.
    std::vector<char *> program_argv = argv_of(command);
    execv(path.c_str(), program_argv.data());
    complain("cannot run '" + command.program + "': " + strerror(errno));
    return 126;
}
