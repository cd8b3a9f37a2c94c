// Measures whole processes from outside, for bench/run:
//
//   tools start SETTLE_MS IDLE_MS -- PROGRAM ARGS...
//       Starts the program and prints three figures: milliseconds from the spawn to the first
//       top-level window mapped on the X display, its resident memory in kB SETTLE_MS after the
//       spawn, and the CPU milliseconds all its threads used over the IDLE_MS after that. Then
//       ends the program.
//   tools rusage -- PROGRAM ARGS...
//       Runs the program to its end and prints the CPU milliseconds (user + system) it used.
//   tools wall -- PROGRAM ARGS...
//       Runs the program to its end, its output discarded, and prints the milliseconds it took.
//   tools cpu PID
//       Prints the CPU nanoseconds every thread of a running process has used so far.
//   tools listen THRESHOLD TIMEOUT_MS (--dblclick X Y | -- PROGRAM ARGS...)
//       Reads a recording (signed 16-bit mono at 44100 Hz, as parec writes it) on standard input
//       and prints the milliseconds from the action to the first sample louder than THRESHOLD.
//       The action is either the second press of a double click at X,Y (sent through XTest, as a
//       real pointer would) or the spawn of the program, which is ended once it has been heard.
//   tools quiet THRESHOLD TIMEOUT_MS (X Y | -- PROGRAM ARGS...)
//       The same for a single click at X,Y (or the spawn of the program) while sound plays: the
//       milliseconds from the press to the start of the first 10 ms in which every sample is at
//       most THRESHOLD.
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static void sleepMs(double ms) {
    struct timespec t = {(time_t)(ms / 1e3), (long)((ms - (double)(time_t)(ms / 1e3) * 1e3) * 1e6)};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

static pid_t spawn(char** argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv);
        perror(argv[0]);
        _exit(127);
    }
    return pid;
}

static void end(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, NULL, WNOHANG) == pid) {
            return;
        }
        sleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
}

static long long threadsCpuNs(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
    DIR* dir = opendir(path);
    if (dir == NULL) {
        return -1;
    }
    long long total = 0;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char file[128];
        snprintf(file, sizeof file, "%.63s/%.40s/schedstat", path, entry->d_name);
        FILE* f = fopen(file, "r");
        long long ns = 0;
        if (f != NULL) {
            if (fscanf(f, "%lld", &ns) == 1) {
                total += ns;
            }
            fclose(f);
        }
    }
    closedir(dir);
    return total;
}

static long rssKb(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* f = fopen(path, "r");
    if (f == NULL) {
        return -1;
    }
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f) != NULL) {
        if (sscanf(line, "VmRSS: %ld", &kb) == 1) {
            break;
        }
    }
    fclose(f);
    return kb;
}

static int start(double settleMs, double idleMs, char** argv) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "tools: no X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    const double t0 = nowMs();
    const pid_t pid = spawn(argv);
    double shown = -1;
    const int fd = ConnectionNumber(display);
    while (shown < 0 && nowMs() - t0 < 10000) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && event.xmap.event == root && shown < 0) {
                shown = nowMs() - t0;
            }
        }
        if (shown < 0) {
            struct pollfd p = {fd, POLLIN, 0};
            poll(&p, 1, 5);
        }
    }
    const double settleLeft = t0 + settleMs - nowMs();
    if (settleLeft > 0) {
        sleepMs(settleLeft);
    }
    const long rss = rssKb(pid);
    const long long before = threadsCpuNs(pid);
    sleepMs(idleMs);
    const long long after = threadsCpuNs(pid);
    printf("%.1f %ld %.1f\n", shown, rss, (double)(after - before) / 1e6);
    end(pid);
    XCloseDisplay(display);
    return shown < 0 ? 1 : 0;
}

static int rusage(char** argv) {
    const pid_t pid = spawn(argv);
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        return 1;
    }
    printf("%.1f\n", (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

static int wall(char** argv) {
    const double t0 = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    printf("%.1f\n", nowMs() - t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// Everything that has piled up on the recording so far is old.
static void drain(int fd) {
    char buffer[65536];
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    fcntl(fd, F_SETFL, flags);
}

typedef int (*FakeButton)(Display*, unsigned int, Bool, unsigned long);
typedef int (*FakeMotion)(Display*, int, int, int, unsigned long);

static int listen(int threshold, double timeoutMs, int clickX, int clickY, char** argv,
                  int wantQuiet) {
    Display* display = NULL;
    FakeButton button = NULL;
    if (argv == NULL) {
        void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
        display = XOpenDisplay(NULL);
        if (xtst == NULL || display == NULL) {
            fprintf(stderr, "tools: no XTest or no X display\n");
            return 1;
        }
        button = (FakeButton)dlsym(xtst, "XTestFakeButtonEvent");
        const FakeMotion motion = (FakeMotion)dlsym(xtst, "XTestFakeMotionEvent");
        motion(display, -1, clickX, clickY, 0);
        if (!wantQuiet) {
            button(display, 1, True, 0);
            button(display, 1, False, 0);
        }
        XSync(display, False);
        sleepMs(80);
    }
    // A moment of recording first, so that the recorder is known to be flowing.
    char buffer[8192];
    for (double until = nowMs() + 200; nowMs() < until;) {
        if (read(0, buffer, sizeof buffer) <= 0) {
            return 1;
        }
    }
    drain(0);
    pid_t pid = -1;
    const double t0 = nowMs();
    if (argv == NULL) {
        button(display, 1, True, 0);
        XSync(display, False);
        button(display, 1, False, 0);
        XSync(display, False);
    } else {
        pid = spawn(argv);
    }
    double heard = -1;
    long quietRun = 0;  // samples in a row at most THRESHOLD
    long long odd = 0;  // a sample split between two reads
    int haveOdd = 0;
    while (heard < 0 && nowMs() - t0 < timeoutMs) {
        struct pollfd p = {0, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        unsigned char data[8192];
        const ssize_t n = read(0, data, sizeof data);
        const double at = nowMs();
        if (n <= 0) {
            break;
        }
        size_t i = 0;
        const size_t bytes = (size_t)n;
        if (haveOdd) {
            odd |= (long long)data[0] << 8;
            i = 1;
            haveOdd = 0;
        }
        const size_t samples = (bytes - i) / 2;
        for (size_t k = 0; k < samples && heard < 0; ++k) {
            const int16_t s = (int16_t)(data[i + 2 * k] | (data[i + 2 * k + 1] << 8));
            if (wantQuiet) {
                quietRun = abs(s) <= threshold ? quietRun + 1 : 0;
                if (quietRun == 441) {
                    heard = at - (double)(samples - k + 440) * 1000.0 / 44100.0 - t0;
                }
            } else if (abs(s) > threshold) {
                heard = at - (double)(samples - k) * 1000.0 / 44100.0 - t0;
            }
        }
        if ((bytes - i) % 2 == 1) {
            odd = data[bytes - 1];
            haveOdd = 1;
        }
    }
    printf("%.1f\n", heard);
    if (pid > 0) {
        end(pid);
    }
    if (display != NULL) {
        XCloseDisplay(display);
    }
    return heard < 0 ? 1 : 0;
}

static char** after(int argc, char** argv, int from) {
    for (int i = from; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0 && i + 1 < argc) {
            return argv + i + 1;
        }
    }
    return NULL;
}

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc >= 5 && strcmp(argv[1], "start") == 0 && after(argc, argv, 4) != NULL) {
        return start(atof(argv[2]), atof(argv[3]), after(argc, argv, 4));
    }
    if (argc >= 3 && strcmp(argv[1], "rusage") == 0 && after(argc, argv, 2) != NULL) {
        return rusage(after(argc, argv, 2));
    }
    if (argc >= 3 && strcmp(argv[1], "wall") == 0 && after(argc, argv, 2) != NULL) {
        return wall(after(argc, argv, 2));
    }
    if (argc == 3 && strcmp(argv[1], "cpu") == 0) {
        printf("%lld\n", threadsCpuNs((pid_t)atoi(argv[2])));
        return 0;
    }
    if (argc >= 5 && strcmp(argv[1], "listen") == 0) {
        if (argc == 7 && strcmp(argv[4], "--dblclick") == 0) {
            return listen(atoi(argv[2]), atof(argv[3]), atoi(argv[5]), atoi(argv[6]), NULL, 0);
        }
        if (after(argc, argv, 4) != NULL) {
            return listen(atoi(argv[2]), atof(argv[3]), 0, 0, after(argc, argv, 4), 0);
        }
    }
    if (argc >= 5 && strcmp(argv[1], "quiet") == 0 && after(argc, argv, 4) != NULL) {
        return listen(atoi(argv[2]), atof(argv[3]), 0, 0, after(argc, argv, 4), 1);
    }
    if (argc == 6 && strcmp(argv[1], "quiet") == 0) {
        return listen(atoi(argv[2]), atof(argv[3]), atoi(argv[4]), atoi(argv[5]), NULL, 1);
    }
    fprintf(stderr, "usage: see the top of bench/tools.c\n");
    return 2;
}
