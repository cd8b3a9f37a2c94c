// The fuzz targets. Each program is built for one of them (KORVEL_FUZZ_TARGET): with libFuzzer
// under `make fuzz`, and in the tests with a main that replays every input kept for it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/ini.h"
#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "support/support.h"

namespace fuzz {

const korvel::test::TempDir dir;

void check(bool sound) {
    if (!sound) std::abort();
}

// Any bytes come back from wide text unchanged, and so do the bytes that any wide text gives,
// lone surrogates included.
void text(const std::string& bytes) {
    QString wide;
    for (std::size_t i = 1; i < bytes.size(); i += 2) wide += QChar(std::uint8_t(bytes[i - 1]), std::uint8_t(bytes[i]));
    for (const std::string& ansi : {bytes, platform::toAnsi(wide)})
        check(platform::toAnsi(platform::fromAnsi(ansi)) == ansi);
}

// Any text without a NUL survives the short form, which holds only printable ASCII that an MCI
// command cannot misread (no blank, quote or backslash); a path under a folder resolves to nothing
// outside it unless it climbs with "..".
void shortpath(const std::string& text) {
    // Names that hold backslashes and blanks, as Linux names may.
    [[maybe_unused]] static const bool made = std::filesystem::create_directories(dir / "a\\b/c d\\/e");
    const std::string root = dir.path() + "/";
    const std::string encoded = platform::encodeShortPath(text);
    const auto plain = [](char c) { return c > ' ' && c < 0x7F && c != '"' && c != '\'' && c != '\\'; };
    check(text.find('\0') != text.npos ||
          (std::all_of(encoded.begin(), encoded.end(), plain) && platform::decodeShortPath(encoded) == text));
    platform::decodeShortPath(text);
    const auto resolved = platform::resolveWindowsPath(root + text);
    check(!resolved || text.find("..") != text.npos || (*resolved + "/").starts_with(root));
}

// Input: section, key and value, each ended by a NUL, then the file as it was. A write that is
// made reads back as written and changes no line but its own; a refused one changes nothing;
// neither leaves a temporary file.
void ini(const std::string& input) {
    std::istringstream in(input);
    std::string part[3];
    for (std::string& p : part) std::getline(in, p, '\0');
    const std::string rest{std::istreambuf_iterator<char>(in), {}};
    const std::string file = dir / "fuzz.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << rest;
    const bool written =
        WritePrivateProfileStringA(part[0].c_str(), part[1].c_str(), part[2].c_str(), file.c_str()) != 0;
    const std::string now = korvel::test::contentsOf(file);
    std::string value(part[2].size() + 2, '\0');
    value.resize(GetPrivateProfileStringA(part[0].c_str(), part[1].c_str(), "", value.data(),
                                          static_cast<std::uint32_t>(value.size()), file.c_str()));
    // What the write took out lies between the text both files begin and end with.
    const auto head = std::mismatch(rest.begin(), rest.end(), now.begin(), now.end());
    const auto tail = std::mismatch(rest.rbegin(), std::make_reverse_iterator(head.first), now.rbegin(),
                                    std::make_reverse_iterator(head.second));
    const bool kept = std::string(head.first, tail.first.base()).find_first_of("\r\n") == rest.npos;
    check(written ? kept && value == part[2] : now == rest);
    check(std::distance(std::filesystem::directory_iterator(dir.path()), {}) == 1);
}

// A command of arbitrary bytes, sent with a device open behind it, is answered with no error or
// a known one, and an empty reply. An input that starts as MP3 data does (a tag or a frame sync)
// is opened and played as a file instead.
void mci(const std::string& input) {
    [[maybe_unused]] static const bool ready =
        (korvel::test::startSoundServer(), korvel::test::writeTone(dir / "tone.mp3", 440, 0.5), true);
    std::string file = dir / "tone.mp3", command = input.c_str();
    if (input.starts_with("ID3") || (input.size() > 1 && input[0] == '\xFF' && (input[1] & 0xE0) == 0xE0)) {
        std::ofstream(file = dir / "input.mp3", std::ios::binary | std::ios::trunc) << input;
        mciSendStringA("close all", nullptr, 0, 0);
        command = "play t";
    }
    mciSendStringA(("open " + platform::encodeShortPath(file) + " type mpegvideo alias t").c_str(), nullptr, 0, 0);
    char reply[8] = "x";
    const MCIERROR error = mciSendStringA(command.c_str(), reply, sizeof reply, 0);
    static const std::vector<MCIERROR> known = {0, 259, 261, 263, 264, 275, 289, 292, 296, 298, 302};
    check(reply[0] == '\0' && std::find(known.begin(), known.end(), error) != known.end());
}

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::KORVEL_FUZZ_TARGET(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}

#ifndef KORVEL_LIBFUZZER
// Every input kept under the folder given, each named before it runs so a failure points at it.
int main(int, char** argv) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
        std::cout << entry.path().string() << std::endl;
        fuzz::KORVEL_FUZZ_TARGET(korvel::test::contentsOf(entry.path()));
    }
}
#endif
