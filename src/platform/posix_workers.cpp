// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/process.h"

namespace talvor {

int UsableProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}

namespace {

// The first number in a file (such as "max" or "1234\n"), -1 when there is none.
int64_t NumberIn(const char* path) {
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return -1;
    long long value = -1;
    if (std::fscanf(file, "%lld", &value) != 1) value = -1;
    std::fclose(file);
    return value;
}

}  // namespace

int64_t AvailableMemoryBytes() {
    int64_t available = -1;
    if (std::FILE* info = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        long long kilobytes = 0;
        while (std::fgets(line, sizeof line, info) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %lld kB", &kilobytes) == 1) {
                available = int64_t(kilobytes) * 1024;
                break;
            }
        }
        std::fclose(info);
    }
    // A service's memory limit (cgroup v2) binds before the machine's memory does.
    std::string group;
    if (std::FILE* cgroup = std::fopen("/proc/self/cgroup", "re")) {
        char line[1024];
        while (std::fgets(line, sizeof line, cgroup) != nullptr) {
            if (std::strncmp(line, "0::", 3) == 0)
                group.assign(line + 3, std::strcspn(line + 3, "\n"));
        }
        std::fclose(cgroup);
    }
    if (!group.empty() && group[0] == '/') {
        std::string folder = "/sys/fs/cgroup" + (group == "/" ? std::string() : group);
        int64_t limit = NumberIn((folder + "/memory.max").c_str());
        int64_t used = NumberIn((folder + "/memory.current").c_str());
        if (limit > 0 && used >= 0) {
            int64_t left = limit > used ? limit - used : 0;
            if (available < 0 || left < available) available = left;
        }
    }
    return available;
}

bool StartWorkerProcess(const std::function<int(int resultsFd)>& body, WorkerProcess* worker) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    std::fflush(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (pid == 0) {
        close(ends[0]);
        // A worker left behind by a parent that died would draw on for nobody.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        int code = body(ends[1]);
        std::fflush(nullptr);
        // The parent's static objects and drivers are not this process's to tear down.
        _exit(code);
    }
    close(ends[1]);
    worker->pid = pid;
    worker->resultsFd = ends[0];
    return true;
}

bool SendWorkerResult(int resultsFd, const WorkerResult& result) {
    // Far below PIPE_BUF, so the write is whole or fails.
    ssize_t n;
    do {
        n = write(resultsFd, &result, sizeof result);
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof result);
}

bool ReceiveWorkerResults(std::vector<WorkerProcess>* workers, std::vector<WorkerResult>* results) {
    std::vector<pollfd> fds;
    std::vector<size_t> owners;
    for (size_t i = 0; i < workers->size(); ++i) {
        if ((*workers)[i].resultsFd < 0) continue;
        fds.push_back({(*workers)[i].resultsFd, POLLIN, 0});
        owners.push_back(i);
    }
    if (fds.empty()) return false;
    int ready;
    do {
        ready = poll(fds.data(), fds.size(), -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return false;
    for (size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].revents == 0) continue;
        WorkerProcess& worker = (*workers)[owners[k]];
        WorkerResult result;
        ssize_t n;
        do {
            n = read(worker.resultsFd, &result, sizeof result);
        } while (n < 0 && errno == EINTR);
        if (n == ssize_t(sizeof result)) {
            results->push_back(result);
        } else {
            // Closed, or a torn message that only a dying worker could leave.
            close(worker.resultsFd);
            worker.resultsFd = -1;
        }
    }
    return true;
}

bool EndWorkerProcess(WorkerProcess* worker) {
    if (worker->resultsFd >= 0) {
        close(worker->resultsFd);
        worker->resultsFd = -1;
    }
    if (worker->pid <= 0) return false;
    int status = 0;
    pid_t done;
    do {
        done = waitpid(worker->pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    worker->pid = -1;
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace talvor
