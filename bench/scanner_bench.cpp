// The scanner's throughput on a full process list, beside memmem over the
// same bytes: how far the byte-at-a-time state machine is from a plain
// library search for the name.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "../watchdog/watchdog.h"

namespace {

const char server_row[] = "map-server.exe 4711 AboveNormal 0:12:31 73 52440 \r\n";

// A process table as process.exe writes it, exactly process_list_capacity
// bytes long: the header, rows of ordinary processes and, when
// `with_server` is set, the server's row as the very last one, so the
// scanner has to walk every byte before it.
std::string make_process_list(bool with_server) {
    static const char *const names[] = {
        "systemd", "kthreadd", "rcu_gp", "kworker/0:1H-kblockd", "ksoftirqd/0", "migration/1",
        "systemd-journald", "systemd-udevd", "dbus-daemon", "cron", "rsyslogd", "sshd",
        "agetty", "bash", "login-server.exe", "char-server.exe", "mysqld", "nginx",
        "python3", "containerd-shim-runc-v2", "chronyd", "polkitd", "NetworkManager",
        "kworker/u8:2-events_unbound", "irq/122-pciehp", "jbd2/sda1-8", "tmux:_server",
    };
    const int name_count = static_cast<int>(sizeof names / sizeof names[0]);
    const size_t capacity = static_cast<size_t>(process_list_capacity);
    const size_t tail = with_server ? sizeof server_row - 1 : 0;
    const char row_format[] = "%s %u %s %u:%02u:%02u %u %u \r\n";

    std::string list = "Image-Name PID Priority CPU-Time CPU% Mem(KiB) \r\n";
    char row[200];
    for (unsigned i = 0;; i++) {
        int length = snprintf(row, sizeof row, row_format, names[i % name_count], 1 + i * 7,
                              i % 5 ? "Normal" : "High", i % 9, i % 60, (i * 13) % 60, i % 4,
                              800 + (i * 997) % 90000);
        // Stop while there is still room for a last ordinary row.
        if (list.size() + static_cast<size_t>(length) + tail + 40 > capacity) break;
        list.append(row, static_cast<size_t>(length));
    }
    // The last ordinary row's name is as long as it takes to fill the buffer.
    int rest = snprintf(row, sizeof row, row_format, "", 99999u, "Normal", 0u, 0u, 0u, 0u, 1000u);
    std::string name = "worker-";
    name.resize(capacity - tail - list.size() - static_cast<size_t>(rest), 'x');
    snprintf(row, sizeof row, row_format, name.c_str(), 99999u, "Normal", 0u, 0u, 0u, 0u, 1000u);
    list += row;
    if (with_server) list += server_row;
    return list;
}

void scan_whole_list(benchmark::State &state, bool with_server) {
    std::string list = make_process_list(with_server);
    if (list.size() != static_cast<size_t>(process_list_capacity)) {
        state.SkipWithError("the list does not fill the buffer");
        return;
    }
    for (auto _ : state) {
        reset_scanner();
        scan_bytes(list.data(), static_cast<int32_t>(list.size()));
        benchmark::DoNotOptimize(scan_state);
        benchmark::ClobberMemory();
    }
    int expected = with_server ? FOUND : SEEK_NAME;
    if (scan_state != expected || (with_server && strcmp(cpu_usage, "73") != 0))
        state.SkipWithError("the scan did not end as expected");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(list.size()));
}

void memmem_whole_list(benchmark::State &state, bool with_server) {
    std::string list = make_process_list(with_server);
    static const char needle[] = "map-server.exe ";
    const void *hit = nullptr;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.data());
        hit = memmem(list.data(), list.size(), needle, sizeof needle - 1);
        benchmark::DoNotOptimize(hit);
    }
    if ((hit != nullptr) != with_server) state.SkipWithError("memmem did not end as expected");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(list.size()));
}

void BM_scan_server_last(benchmark::State &state) { scan_whole_list(state, true); }
void BM_scan_no_server(benchmark::State &state) { scan_whole_list(state, false); }
void BM_memmem_server_last(benchmark::State &state) { memmem_whole_list(state, true); }
void BM_memmem_no_server(benchmark::State &state) { memmem_whole_list(state, false); }

BENCHMARK(BM_scan_server_last);
BENCHMARK(BM_scan_no_server);
BENCHMARK(BM_memmem_server_last);
BENCHMARK(BM_memmem_no_server);

}  // namespace

BENCHMARK_MAIN();
