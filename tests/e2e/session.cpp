#include "e2e/session.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "e2e/wait.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace korvel::e2e {

namespace fs = std::filesystem;

std::vector<double> allPitches() {
    return {kLow.hz, kMiddle.hz, kHigh.hz, kDeep.hz};
}

const std::string& musicDirectory() {
    static const std::unique_ptr<korvel::test::TempDir> dir = [] {
        auto made = std::make_unique<korvel::test::TempDir>();
        // Readable by the unprivileged user the installed program may run as.
        fs::permissions(made->path(), fs::perms(0755));
        const fs::path music = fs::path(made->path()) / "music";
        fs::create_directories(music / kSubdirectory);
        for (const Tone& tone : {kLow, kMiddle, kHigh, kDeep}) {
            korvel::test::writeToneMp3((music / tone.file).string(), tone.hz, kToneSeconds);
        }
        return made;
    }();
    static const std::string music = *dir / "music";
    return music;
}

std::string copyProgram(const std::string& from, const std::string& dir) {
    fs::create_directories(dir);
    const fs::path to = fs::path(dir) / "korvel";
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to.string();
}

namespace {

// White text on the file list's teal: the teal has no red at all.
bool fileText(const QColor& c) {
    return c.red() > 100;
}

}  // namespace

ListRows waitForFileList(const Player& player, int files) {
    std::string seen = "no screenshot taken";
    int pitch = 0;
    const bool shown = waitUntil(
        [&] {
            const Screenshot shot = player.screenshot();
            const QColor back = shot.dominant(layout::kFiles);
            const auto rows = shot.bands(layout::kFiles, fileText);
            seen = "file list background " + describe(back) + ", " + std::to_string(rows.size()) +
                   " rows of text";
            if (back != QColor(0, 128, 128) || static_cast<int>(rows.size()) != files) {
                return false;
            }
            pitch = rows.size() >= 2 ? rows[1].first - rows[0].first : 0;
            return true;
        },
        10s, 50ms);
    if (!shown) {
        throw std::runtime_error("expected the file list (teal) with " + std::to_string(files) +
                                 " files within 10 s; saw " + seen);
    }
    return ListRows(pitch);
}

std::string expectTone(Listener& ears, const Tone& tone, const std::string& action,
                       std::chrono::milliseconds timeout) {
    std::string heard;
    if (ears.waitForTone(tone.hz, timeout, heard)) {
        return {};
    }
    return "after " + action + ": expected '" + tone.file + "' (" +
           std::to_string(static_cast<int>(tone.hz)) + " Hz) within " +
           std::to_string(timeout.count()) + " ms; heard " + heard;
}

std::string expectSilence(Listener& ears, const std::string& action,
                          std::chrono::milliseconds timeout) {
    std::string heard;
    if (ears.waitForSilence(timeout, heard)) {
        return {};
    }
    return "after " + action + ": expected silence within " + std::to_string(timeout.count()) +
           " ms; heard " + heard;
}

}  // namespace korvel::e2e
