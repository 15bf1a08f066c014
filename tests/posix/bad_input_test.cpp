// The catalogue of bad input: the real srvwarden binary on a pseudo-terminal,
// one row per kind of trouble from outside (the list file, the interpreter,
// the process tool, the parameters), each with the exact console bytes it
// gets. A row either ends with a message and a status, or shows the cycle
// going on for a number of cycles, after which the test stops it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pty_run.h"

namespace {

std::string banner_with(const std::string &limit, const std::string &interval) {
    return "Orvane map-server.exe auto-restart tool by Tolvek\r\n"
           "-------------------------------------------------\r\n\r\n"
           "- Using a CPU limit of " + limit + " %.\r\n"
           "CPU limit may be overridden with first command line parameter.\r\n"
           "(ex. \"srvwarden 50\" for 50% CPU limit)\r\n"
           "\r\n- map-server.exe's status will be checked every " + interval + " seconds\r\n"
           "Status checking interval may be overridden with second command line parameter.\r\n"
           "(ex. \"srvwarden 50 30\" for 50% CPU limit & 30 second check)\r\n\r\n";
}

const std::string checking = "[stamp] Checking Windows processes.\r\n";

std::string sleeping(const std::string &seconds) { return "[stamp] Sleeping for " + seconds + " seconds.\r\n"; }

std::string healthy(const std::string &cpu) {
    return checking + "[stamp] map-server.exe status is OK (" + cpu + " % CPU)\r\n" + sleeping("0");
}

std::string missing() {
    return checking + "[stamp] map-server.exe does not appear to be running! \r\n[stamp] ... restarting\r\n" +
           sleeping("0");
}

std::string exceeded(const std::string &cpu) {
    return checking + "[stamp] map-server.exe has exceeded the allowed CPU usage (" + cpu +
           " % CPU)\r\n[stamp] ... terminating\r\n[stamp] ... restarting\r\n" + sleeping("0");
}

std::string left_alone(const std::string &cpu) {
    return checking + "[stamp] map-server.exe has exceeded the allowed CPU usage (" + cpu +
           " % CPU)\r\n[stamp] ... its process identifier is not a number; map-server.exe is left alone\r\n" +
           sleeping("0");
}

std::string repeated(const std::string &text, int times) {
    std::string all;
    for (int i = 0; i < times; i++) all += text;
    return all;
}

const std::string list_command = " /C process.exe > process.txt";
const std::string kill_812 = " /C process.exe -k  812  > terminate.txt";
const std::string restart_command = " /C start /min /abovenormal map-server.exe conf\\map_orvane.conf";

std::string list_with(const std::string &server_row) {
    return "Image Name PID Priority CPU-Time CPU% Mem(KiB)\r\n"
           "init 1 Normal 0:00:03 0 1200 \r\n" +
           server_row + "bash 77 Normal 0:00:00 0 3000 \r\n";
}

// Bytes of every value, zero, carriage return and line feed included, from a
// fixed generator, so that a failure can be replayed. Runs of spaces and
// tokens far longer than a field come with them.
std::string garbage(size_t size, uint32_t state) {
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        uint32_t pick = state >> 24;
        if (pick < 8)
            bytes.append(1 + (state >> 8) % 300, static_cast<char>('A' + pick));
        else if (pick < 12)
            bytes.append(1 + (state >> 8) % 20, ' ');
        else
            bytes.push_back(static_cast<char>(state >> 16));
    }
    bytes.resize(size);
    return bytes;
}

// A list of about `size` bytes of ordinary rows, then `tail`.
std::string long_list(size_t size, const std::string &tail) {
    std::string bytes = "Image Name PID Priority CPU-Time CPU% Mem(KiB)\r\n";
    bytes.reserve(size + tail.size() + 64);
    for (int i = 1000; bytes.size() < size; i++)
        bytes += "worker-" + std::to_string(i) + ".exe " + std::to_string(i) + " Normal 0:00:01 0 2400 \r\n";
    return bytes + tail;
}

// Writes an interpreter stand-in: a shell script that gets the command line
// as $1, logs it to commands.log and then runs `body`.
void write_interpreter(const std::string &path, const std::string &body, mode_t mode = 0755) {
    write_file(path, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> commands.log\n" + body + "\n");
    chmod(path.c_str(), mode);
}

// Serves `list.txt` as the process list on every list command.
const std::string serve_list = "case \"$1\" in \" /C process.exe > process.txt\") cp list.txt process.txt ;; esac";

struct bad_input_case {
    const char *name;
    std::function<void(const std::string &directory)> prepare;
    std::string comspec = "cmd.sh";
    std::vector<std::string> parameters = {"40", "0"};
    std::string banner = banner_with("40", "0");
    // What follows the banner. With `status` set, the whole rest of the
    // output; otherwise the text of `cycles` whole cycles, after which the
    // run is stopped.
    std::string then;
    int status = -1;
    int cycles = 3;
    // The commands the interpreter logged, one a line: the whole log when
    // the row ends by itself or nothing is to run, else how the log begins.
    bool check_commands = false;
    std::string commands;
    // Run without the right to read files the test made (as "nobody" when the
    // test runs as root).
    bool unprivileged = false;
    // For a row that is to wait: the run is stopped half a second after this
    // text shows, and nothing may follow `then` by then.
    const char *waits_after = nullptr;
};

std::string lines(const std::vector<std::string> &commands) {
    std::string all;
    for (const std::string &c : commands) all += c + "\n";
    return all;
}

const std::string big_row = "map-server.exe 812 Normal 0:00:05 12 52000 \r\n";

std::vector<bad_input_case> catalogue() {
    std::vector<bad_input_case> rows;
    bad_input_case row;

    // --- The process list file ----------------------------------------------
    row = {};
    row.name = "process.txt is a directory";
    row.prepare = [](const std::string &d) {
        mkdir((d + "/process.txt").c_str(), 0755);
        write_interpreter(d + "/cmd.sh", "");
    };
    row.then = checking + "There was an error opening the process list file.";
    row.status = 4;
    rows.push_back(row);

    row = {};
    row.name = "process.txt is a socket";
    row.prepare = [](const std::string &d) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::string path = d + "/process.txt";
        ASSERT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, path.size());
        ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address), 0);
        close(fd);
        write_interpreter(d + "/cmd.sh", "");
    };
    row.then = checking + "There was an error opening the process list file.";
    row.status = 4;
    rows.push_back(row);

    row = {};
    row.name = "process.txt is a named pipe with no writer";
    row.prepare = [](const std::string &d) {
        ASSERT_EQ(mkfifo((d + "/process.txt").c_str(), 0644), 0);
        write_interpreter(d + "/cmd.sh", "");
    };
    row.then = checking + "There was an error seeking the process list file.";
    row.status = 1;
    rows.push_back(row);

    row = {};
    row.name = "process.txt is a named pipe the tool writes into";
    row.prepare = [](const std::string &d) {
        ASSERT_EQ(mkfifo((d + "/process.txt").c_str(), 0644), 0);
        write_file(d + "/list.txt", list_with(big_row));
        // The writer waits for a reader at most two seconds and holds none
        // of the test's pipes, so nothing of it outlives the row.
        write_interpreter(d + "/cmd.sh",
                          "(timeout 2 sh -c 'cat list.txt > process.txt' </dev/null >/dev/null 2>&1 &)");
    };
    row.then = checking + "There was an error seeking the process list file.";
    row.status = 1;
    rows.push_back(row);

    row = {};
    row.name = "process.txt cannot be read by the watchdog's user";
    row.prepare = [](const std::string &d) {
        write_file(d + "/process.txt", list_with(big_row));
        chmod((d + "/process.txt").c_str(), 0);
        write_interpreter(d + "/cmd.sh", "");
    };
    row.then = checking + "There was an error opening the process list file.";
    row.status = 4;
    row.unprivileged = true;
    rows.push_back(row);

    row = {};
    row.name = "process.txt deleted between cycles";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", list_with(big_row));
        write_interpreter(d + "/cmd.sh",
                          "case \"$1\" in \" /C process.exe > process.txt\")\n"
                          "  if [ -f served ]; then rm -f process.txt; else cp list.txt process.txt; : > served; fi ;;\n"
                          "esac");
    };
    row.then = healthy("12") + checking + "There was an error opening the process list file.";
    row.status = 4;
    rows.push_back(row);

    row = {};
    row.name = "process.txt emptied between cycles";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", list_with(big_row));
        write_interpreter(d + "/cmd.sh",
                          "case \"$1\" in \" /C process.exe > process.txt\")\n"
                          "  if [ -f served ]; then : > process.txt; else cp list.txt process.txt; : > served; fi ;;\n"
                          "esac");
    };
    row.then = healthy("12") + checking + "There was an error reading the process list file.";
    row.status = 3;
    rows.push_back(row);

    row = {};
    row.name = "binary garbage without the server's row";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", garbage(150000, 1));
        write_interpreter(d + "/cmd.sh", serve_list);
    };
    row.then = repeated(missing(), 3);
    rows.push_back(row);

    row = {};
    row.name = "binary garbage around the server's row";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", garbage(70000, 2) + "\n" + big_row + garbage(5000, 3));
        write_interpreter(d + "/cmd.sh", serve_list);
    };
    row.then = repeated(healthy("12"), 3);
    rows.push_back(row);

    row = {};
    row.name = "a 10 MB list with the server's row near the end";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", long_list(10000000, big_row + "bash 77 Normal 0:00:00 0 3000 \r\n"));
        write_interpreter(d + "/cmd.sh", serve_list);
    };
    row.then = repeated(healthy("12"), 2);
    row.cycles = 2;
    rows.push_back(row);

    row = {};
    row.name = "a 10 MB list without the server's row";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", long_list(10000000, ""));
        write_interpreter(d + "/cmd.sh", serve_list);
    };
    row.then = repeated(missing(), 2);
    row.cycles = 2;
    rows.push_back(row);

    // --- The command interpreter ---------------------------------------------
    row = {};
    row.name = "COMSPEC names a directory";
    row.prepare = [](const std::string &d) {
        // "cmd" is looked for as cmd.com, cmd.exe, ...: here cmd.exe is a
        // directory, which exists but cannot be started.
        mkdir((d + "/cmd.exe").c_str(), 0755);
        write_file(d + "/process.txt", list_with("map-server.exe 5 Normal 0:00:01 3 100 \r\n"));
    };
    row.comspec = "cmd";
    row.then = repeated(healthy("3"), 3);
    rows.push_back(row);

    row = {};
    row.name = "COMSPEC names a file without the run bit";
    row.prepare = [](const std::string &d) {
        write_interpreter(d + "/cmd.sh", ": > ran", 0644);
        write_file(d + "/process.txt", list_with("map-server.exe 5 Normal 0:00:01 3 100 \r\n"));
    };
    row.then = repeated(healthy("3"), 3);
    row.check_commands = true;  // the stand-in never ran, so it logged nothing
    rows.push_back(row);

    row = {};
    row.name = "COMSPEC longer than any command line";
    row.prepare = [](const std::string &d) {
        write_file(d + "/process.txt", list_with("map-server.exe 5 Normal 0:00:01 3 100 \r\n"));
    };
    row.comspec = "./" + std::string(600, 'c') + ".sh";
    row.then = repeated(healthy("3"), 3);
    rows.push_back(row);

    row = {};
    row.name = "an interpreter that crashes after each command";
    row.prepare = [](const std::string &d) {
        write_file(d + "/list.txt", list_with("map-server.exe 812 Normal 0:00:09 97 52000 \r\n"));
        write_interpreter(d + "/cmd.sh", "ulimit -c 0\n" + serve_list + "\nkill -SEGV $$");
    };
    row.then = repeated(exceeded("97"), 2);
    row.cycles = 2;
    row.check_commands = true;
    row.commands = lines({list_command, kill_812, restart_command, list_command, kill_812, restart_command});
    rows.push_back(row);

    row = {};
    row.name = "an interpreter that crashes before writing the list";
    row.prepare = [](const std::string &d) {
        write_file(d + "/process.txt", list_with("map-server.exe 5 Normal 0:00:01 3 100 \r\n"));
        write_interpreter(d + "/cmd.sh", "ulimit -c 0\nkill -SEGV $$");
    };
    row.then = repeated(healthy("3"), 3);
    rows.push_back(row);

    row = {};
    row.name = "an interpreter that never ends";
    row.prepare = [](const std::string &d) {
        // It leaves its identifier behind, so that the test can end it.
        write_interpreter(d + "/cmd.sh", "echo $$ > hung.pid\nexec sleep 60 </dev/null >/dev/null 2>&1");
    };
    row.then = checking;
    row.waits_after = "Checking Windows processes.\r\n";
    rows.push_back(row);

    // --- The process tool's output -------------------------------------------
    struct tool_output {
        const char *name;
        std::string list;
        std::string cycle;
        std::string commands;  // empty: not checked
    };
    const std::string two_kills =
        lines({list_command, kill_812, restart_command, list_command, kill_812, restart_command});
    const std::string two_lists = lines({list_command, list_command});
    const tool_output outputs[] = {
        {"the process tool prints its error instead of a list", "process.exe: cannot read the process table\r\n",
         missing(), ""},
        {"the tool prints a command as the identifier",
         list_with("map-server.exe 812&del/q/s\\* Normal 0:00:09 97 52000 \r\n"), left_alone("97"),
         two_lists},
        {"the tool prints an identifier of 150 digits",
         list_with("map-server.exe " + std::string(150, '8') + " Normal 0:00:09 97 52000 \r\n"), left_alone("97"),
         two_lists},
        {"the tool prints a word as the CPU usage", list_with("map-server.exe 812 Normal 0:00:05 lots 5 \r\n"),
         healthy("0"), ""},
        {"the tool prints a negative CPU usage", list_with("map-server.exe 812 Normal 0:00:05 -5 5 \r\n"),
         healthy("4294967291"), ""},
        {"the tool prints a CPU usage past 32 bits", list_with("map-server.exe 812 Normal 0:00:05 99999999999 5 \r\n"),
         exceeded("1215752191"), two_kills},
        {"the tool prints rows with tokens of 5000 characters",
         list_with(std::string(5000, 'x') + " map-server.exe 812 " + std::string(5000, 'N') + " 0:00:05 7 5 \r\n"),
         healthy("7"), ""},
    };
    for (const tool_output &output : outputs) {
        row = {};
        row.name = output.name;
        std::string list = output.list;
        row.prepare = [list](const std::string &d) {
            write_file(d + "/list.txt", list);
            write_interpreter(d + "/cmd.sh", serve_list);
        };
        row.then = repeated(output.cycle, 2);
        row.cycles = 2;
        row.check_commands = !output.commands.empty();
        row.commands = output.commands;
        rows.push_back(row);
    }

    // --- The parameters --------------------------------------------------------
    const auto healthy_list = [](const std::string &d) {
        write_file(d + "/list.txt", list_with(big_row));
        write_interpreter(d + "/cmd.sh", serve_list);
    };
    row = {};
    row.name = "parameters past 64 bits wrap modulo 2^32";
    row.prepare = healthy_list;
    row.parameters = {"99999999999999999999", "4294967296"};
    // 99999999999999999999 mod 2^32 is 1661992959, and 2^32 wraps to 0.
    row.banner = banner_with("1661992959", "0");
    row.then = repeated(healthy("12"), 3);
    rows.push_back(row);

    row = {};
    row.name = "a limit just below the 32-bit range and an interval of -1";
    row.prepare = healthy_list;
    row.parameters = {"-2147483649", "-1"};
    row.banner = banner_with("2147483647", "4294967295");
    // -1 s is taken as 4294967295 s: the first sleep lasts about 49.7 days,
    // and the test stops it there.
    row.then = checking + "[stamp] map-server.exe status is OK (12 % CPU)\r\n" + sleeping("4294967295");
    row.cycles = 1;
    rows.push_back(row);

    row = {};
    row.name = "a limit of 100000 digits";
    row.prepare = healthy_list;
    row.parameters = {std::string(100000, '9'), "0", "extra", std::string(1000, 'z')};
    // 10^100000 is a multiple of 2^32, so the limit wraps to -1: every usage
    // exceeds it. A third and a fourth parameter change nothing.
    row.banner = banner_with("4294967295", "0");
    row.then = repeated(exceeded("12"), 2);
    row.cycles = 2;
    rows.push_back(row);

    row = {};
    row.name = "empty parameters";
    row.prepare = healthy_list;
    row.parameters = {"", ""};
    row.banner = banner_with("0", "0");
    row.then = repeated(exceeded("12"), 2);
    row.cycles = 2;
    rows.push_back(row);

    return rows;
}

long now_ms() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

int count_of(const std::string &text, const std::string &what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) count++;
    return count;
}

// Runs srvwarden in `directory`, as "nobody" when asked and the test runs as
// root: root reads any file whatever its mode.
pty_result run_row(const bad_input_case &row, const std::string &directory) {
    pty_options options;
    std::string binary = SRVWARDEN_BINARY;
    if (row.unprivileged && geteuid() == 0) {
        // A copy the other user can surely reach, in a directory it may enter.
        binary = directory + "/srvwarden";
        std::string copy = "cp '" SRVWARDEN_BINARY "' '" + binary + "'";
        EXPECT_EQ(system(copy.c_str()), 0);
        chmod(directory.c_str(), 0777);
        options.argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", binary};
    } else {
        options.argv = {binary};
    }
    options.argv.insert(options.argv.end(), row.parameters.begin(), row.parameters.end());
    options.environment = environment_with({"COMSPEC=" + row.comspec});
    options.directory = directory;
    options.timeout_ms = 20000;
    if (row.waits_after != nullptr) {
        std::string text = row.waits_after;
        auto shown_at = std::make_shared<long>(-1);
        options.stop_when = [text, shown_at](const std::string &terminal) {
            if (terminal.find(text) == std::string::npos) return false;
            if (*shown_at < 0) *shown_at = now_ms();
            return now_ms() - *shown_at >= 500;
        };
    } else if (row.status < 0) {
        int cycles = row.cycles;
        options.stop_when = [cycles](const std::string &terminal) {
            return count_of(terminal, " seconds.\r\n") >= cycles;
        };
    }
    return run_on_pty(options);
}

}  // namespace

TEST(BadInput, EachRowGetsItsDocumentedOutcome) {
    for (const bad_input_case &row : catalogue()) {
        SCOPED_TRACE(row.name);
        std::string directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
        row.prepare(directory);
        pty_result r = run_row(row, directory);
        std::string terminal = mask_stamps(r.terminal);

        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        if (row.status >= 0) {
            EXPECT_EQ(terminal, row.banner + row.then);
            EXPECT_EQ(r.exit_status, row.status);
            EXPECT_EQ(r.signal, 0);
        } else if (row.waits_after != nullptr) {
            // Still waiting when stopped, with nothing printed since.
            EXPECT_EQ(terminal, row.banner + row.then);
            EXPECT_EQ(r.signal, SIGKILL);
        } else {
            // Stopped by the test, not ended by itself, and every cycle whole.
            EXPECT_EQ(terminal.substr(0, row.banner.size() + row.then.size()), row.banner + row.then);
            EXPECT_EQ(r.signal, SIGKILL);
        }
        if (row.check_commands) {
            std::string logged = read_file(directory + "/commands.log");
            if (row.status >= 0 || row.commands.empty())
                EXPECT_EQ(logged, row.commands);
            else
                EXPECT_EQ(logged.substr(0, row.commands.size()), row.commands);
        }
        std::string hung = read_file(directory + "/hung.pid");
        if (!hung.empty()) kill(static_cast<pid_t>(std::stol(hung)), SIGKILL);
        remove_tree(directory);
    }
}
