// What bench/run measures inside one process, against the media layer and the controls:
//
//   korvel-probe mp3 OUT SECONDS [TAG_MB]
//       Writes a 192 kbit/s stereo MP3 of music-like sound (chords that change every half
//       second, over a little noise), behind an ID3v2 tag holding a picture of TAG_MB megabytes.
//   korvel-probe silence OUT SECONDS
//       The same, of digital silence.
//   korvel-probe open FILE REPEATS
//       The median milliseconds of `open` of the file (each followed by `close`).
//   korvel-probe play FILE SECONDS
//       CPU milliseconds this process spends per second while the file plays.
//   korvel-probe cycles FILE N
//       Resident memory in kB after the first open/play/close cycle and after the Nth.
//   korvel-probe stalled FILE SERVER_PID
//       The longest milliseconds one of the window's commands (the playback procedures: play a
//       file, pause, resume, mute, sound on, stop) takes while the sound server is stopped
//       (SIGSTOP) in the middle of playing FILE, over three rounds; the server is woken after.
//   korvel-probe dirlist DIR
//       Milliseconds to fill the directory list for DIR, to read DIR's subdirectories with
//       readdir and sort them the same way, and the longest the event loop went unserved while
//       the list filled.
#include <dirent.h>
#include <lame/lame.h>

#include <signal.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/controls/lists.h"
#include "platform/fs.h"
#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "playback/tivoran_playback.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void putBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

void putSynchsafe(std::string& out, std::uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7) {
        out.push_back(static_cast<char>((value >> shift) & 0x7f));
    }
}

// An ID3v2.3 tag with one attached picture of `bytes` bytes.
std::string pictureTag(std::size_t bytes) {
    std::string frame;
    frame.push_back('\0');  // Latin-1
    frame += std::string("image/jpeg") + '\0';
    frame.push_back('\x03');  // front cover
    frame.push_back('\0');    // no description
    std::mt19937 random(7);
    std::string picture(bytes, '\0');
    for (char& c : picture) {
        c = static_cast<char>(random() & 0xff);
    }
    picture[0] = '\xff';
    picture[1] = '\xd8';
    frame += picture;
    std::string tag = "ID3";
    tag += std::string("\x03\x00\x00", 3);
    putSynchsafe(tag, static_cast<std::uint32_t>(10 + frame.size()));
    tag += "APIC";
    putBigEndian(tag, static_cast<std::uint32_t>(frame.size()));
    tag += std::string(2, '\0');
    return tag + frame;
}

// Up to a minute is encoded; a longer file repeats the encoded frames, as the decoder cannot
// tell and the encoder would take minutes.
int writeMp3(const std::string& out, double seconds, double tagMb, bool silent = false) {
    constexpr int kRate = 44100;
    const double encoded = std::min(seconds, 60.0);
    const auto frames = static_cast<std::size_t>(encoded * kRate);
    std::vector<short> left(frames);
    std::vector<short> right(frames);
    std::mt19937 random(1);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const double chords[4][3] = {
        {261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const auto& chord = chords[static_cast<std::size_t>(t * 2) % 4];
        double s = 0;
        for (const double hz : chord) {
            s += std::sin(2 * M_PI * hz * t) + 0.3 * std::sin(2 * M_PI * hz * 3 * t);
        }
        s = silent ? 0.0 : s * 0.18 + 0.03 * noise(random);
        left[i] = static_cast<short>(s * 32767 * 0.9);
        right[i] = silent ? 0 : static_cast<short>((s * 0.8 + 0.02 * noise(random)) * 32767 * 0.9);
    }
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, kRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 192);
    lame_set_VBR(lame, vbr_off);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_quality(lame, 5);
    if (lame_init_params(lame) < 0) {
        return 1;
    }
    std::vector<unsigned char> mp3(frames + frames / 4 + 7200 * 2);
    int n = lame_encode_buffer(lame, left.data(), right.data(), static_cast<int>(frames),
                               mp3.data(), static_cast<int>(mp3.size()));
    if (n < 0) {
        return 1;
    }
    const int tail = lame_encode_flush(lame, mp3.data() + n, static_cast<int>(mp3.size()) - n);
    lame_close(lame);
    if (tail < 0) {
        return 1;
    }
    n += tail;
    std::ofstream file(out, std::ios::binary);
    if (tagMb > 0) {
        file << pictureTag(static_cast<std::size_t>(tagMb * 1024 * 1024));
    }
    for (double done = 0; done < seconds; done += encoded) {
        file.write(reinterpret_cast<const char*>(mp3.data()), n);
    }
    return file ? 0 : 1;
}

MCIERROR send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, 0);
}

std::string openCommand(const std::string& file) {
    return "open " + platform::encodeShortPath(file) + " type mpegvideo alias probe";
}

int openTimes(const std::string& file, int repeats) {
    std::vector<double> times;
    std::vector<double> closes;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        if (send(openCommand(file)) != 0) {
            std::fprintf(stderr, "korvel-probe: %s does not open\n", file.c_str());
            return 1;
        }
        times.push_back(msSince(start));
        const auto closing = Clock::now();
        send("close probe");
        closes.push_back(msSince(closing));
    }
    std::fprintf(stderr, "first open: %.2f ms\n", times[0]);
    std::sort(closes.begin(), closes.end());
    std::fprintf(stderr, "close: %.2f ms\n", closes[closes.size() / 2]);
    std::sort(times.begin(), times.end());
    std::printf("%.2f\n", times[times.size() / 2]);
    return 0;
}

long rssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

int cycles(const std::string& file, int n) {
    long first = 0;
    for (int i = 1; i <= n; ++i) {
        if (send(openCommand(file)) != 0 || send("play probe") != 0) {
            std::fprintf(stderr, "korvel-probe: %s does not play\n", file.c_str());
            return 1;
        }
        send("close probe");
        if (i == 1) {
            first = rssKb();
        }
    }
    std::printf("%ld %ld\n", first, rssKb());
    return 0;
}

#include <sys/resource.h>

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// CPU milliseconds per second of playing, counted after the first second.
int playCost(const std::string& file, double seconds) {
    if (send(openCommand(file)) != 0 || send("play probe") != 0) {
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double before = cpuMs();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::printf("%.2f\n", (cpuMs() - before) / seconds);
    send("close probe");
    return 0;
}

int stalled(const std::string& file, pid_t server) {
    const QString path = platform::fromAnsi(file);
    Tivoran::MciPlayFile(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (kill(server, SIGSTOP) != 0) {
        return 1;
    }
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"play", [&] { Tivoran::MciPlayFile(path); }},
        {"pause", [] { Tivoran::MciSetPause(Tivoran::kTrue); }},
        {"resume", [] { Tivoran::MciSetPause(Tivoran::kFalse); }},
        {"mute", [] { Tivoran::MciSetMute(Tivoran::kTrue); }},
        {"sound on", [] { Tivoran::MciSetMute(Tivoran::kFalse); }},
        {"stop", [] { Tivoran::MciStopAll(); }},
    };
    double longest = 0;
    for (int round = 0; round < 3; ++round) {
        for (const auto& [name, command] : commands) {
            const auto start = Clock::now();
            command();
            const double ms = msSince(start);
            std::fprintf(stderr, "%s: %.2f ms\n", name, ms);
            longest = std::max(longest, ms);
            // Long enough for an open to give up on the server and for the device to settle.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }
    kill(server, SIGCONT);
    std::printf("%.2f\n", longest);
    return 0;
}

int dirlist(int argc, char** argv, const std::string& directory) {
    QApplication app(argc, argv);
    // What the bench compares against: the names read and sorted, nothing shown.
    std::vector<double> bare;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        std::vector<QString> names;
        if (DIR* dir = opendir(directory.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                if (entry->d_name[0] != '.' && entry->d_type == DT_DIR) {
                    names.push_back(platform::fromAnsi(entry->d_name));
                }
            }
            closedir(dir);
        }
        platform::fs::sortNaturally(names);
        bare.push_back(msSince(start));
    }
    std::sort(bare.begin(), bare.end());

    platform::DirListBox list(nullptr);
    list.resize(170, 40);
    list.show();
    const QString parent = platform::fromAnsi(platform::fs::absoluteDirectory(directory + "/.."));
    const QString target = platform::fromAnsi(directory);
    std::vector<double> fills;
    double longestGap = 0;
    auto lastTick = Clock::now();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, msSince(lastTick));
        lastTick = Clock::now();
    });
    int round = 0;
    // Each round goes to the parent and back, as a user would; only the fill of the big folder
    // counts. The ticker runs all along, so a stall anywhere in the loop shows.
    QTimer::singleShot(0, [&] {
        ticker.start(1);
        lastTick = Clock::now();
    });
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (++round % 2 == 1) {
            list.setPath(parent);
            return;
        }
        const auto start = Clock::now();
        list.setPath(target);
        fills.push_back(msSince(start));
        if (round == 6) {
            QTimer::singleShot(50, &app, &QApplication::quit);
            step.stop();
        }
    });
    step.start(100);
    app.exec();
    std::sort(fills.begin(), fills.end());
    std::printf("%.2f %.2f %.2f\n", fills[fills.size() / 2], bare[bare.size() / 2], longestGap);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "mp3" && (argc == 4 || argc == 5)) {
        return writeMp3(argv[2], std::atof(argv[3]), argc == 5 ? std::atof(argv[4]) : 0);
    }
    if (what == "silence" && argc == 4) {
        return writeMp3(argv[2], std::atof(argv[3]), 0, true);
    }
    if (what == "open" && argc == 4) {
        return openTimes(argv[2], std::atoi(argv[3]));
    }
    if (what == "play" && argc == 4) {
        return playCost(argv[2], std::atof(argv[3]));
    }
    if (what == "cycles" && argc == 4) {
        return cycles(argv[2], std::atoi(argv[3]));
    }
    if (what == "stalled" && argc == 4) {
        return stalled(argv[2], static_cast<pid_t>(std::atol(argv[3])));
    }
    if (what == "dirlist" && argc == 3) {
        return dirlist(argc, argv, argv[2]);
    }
    std::fprintf(stderr, "usage: see the top of bench/probe.cpp\n");
    return 2;
}
