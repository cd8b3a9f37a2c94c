#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/temp_dir.h"

namespace korvel::e2e {

// A private desktop for one test: an X server (Xvfb) with a window manager (openbox), and a
// sound server (PulseAudio) whose only output is a null sink the tests record from. Everything
// lives in a fresh temporary directory and goes when the object goes, in reverse order.
class Desktop {
  public:
    // The sink the program's sound goes to; its monitor is what the tests hear.
    static constexpr const char* kSink = "korvel_e2e";

    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The desktop's own temporary directory, and a path inside it.
    const std::string& root() const { return dir_.path(); }
    std::string path(const std::string& name) const { return dir_ / name; }

    // ":N"
    const std::string& display() const { return display_; }
    // "unix:/.../native"
    const std::string& soundServer() const { return soundServer_; }

    // What a program of this desktop's session sees: the display, the sound server, a home and
    // a runtime directory of its own, a plain PATH and a UTF-8 locale.
    Environment environment() const;

    // Runs a tool (xdotool, xprop, import, pactl, ...) against this desktop; throws with the
    // tool's status when it fails.
    std::string tool(const std::vector<std::string>& argv,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;
    ToolResult tryTool(const std::vector<std::string>& argv,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;

    // The servers' logs, for a failure's message.
    std::string logs() const;

  private:
    void startX();
    void startWindowManager();
    void startSound();

    korvel::test::TempDir dir_;
    std::string display_;
    std::string soundServer_;
    std::unique_ptr<Process> x_;
    std::unique_ptr<Process> windowManager_;
    std::unique_ptr<Process> sound_;
};

}  // namespace korvel::e2e
