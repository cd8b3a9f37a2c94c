// The media controls on a private session bus, property by property and method by method,
// against a stand-in for the window: what each property reads in each state, a change signal for
// what changed and none for what did not, and what each method asks of the window.
#include "app/mpris.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTest>

#include "app/bus_names.h"
#include "support/support.h"

namespace korvel::test {
namespace {

using Playback = platform::mci::Playback;

struct StandIn : Remote {
    bool openFolder(const std::string& folder) override { return did("folder " + folder); }
    bool playFile(const std::string& file) override { return did("file " + file) && !refuse; }
    void play() override { did("play"); }
    void pause() override { did("pause"); }
    void resume() override { did("resume"); }
    void stop() override { did("stop"); }
    void next() override { did("next"); }
    void previous() override { did("previous"); }
    void setMuted(bool muted) override { did(muted ? "mute" : "unmute"); }
    void raise() override { did("raise"); }
    void close() override { did("close"); }
    Selection selection() const override { return now; }
    platform::mci::DeviceStatus heard() const override { return status; }
    void watch(std::function<void()> changed) override { tell = std::move(changed); }
    bool did(const std::string& what) {
        asked.push_back(what);
        return true;
    }

    Selection now;
    bool refuse = false;
    platform::mci::DeviceStatus status;
    std::function<void()> tell;
    std::vector<std::string> asked;
};

class Changes : public QObject {
    Q_OBJECT
  public slots:
    void changed(const QString&, const QVariantMap& properties, const QStringList&) {
        seen.push_back(properties.keys());
    }

  public:
    std::vector<QStringList> seen;
};

class MprisTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().connect(bus::kService, bus::kPath, "org.freedesktop.DBus.Properties",
                                                          "PropertiesChanged", &changes,
                                                          SLOT(changed(QString, QVariantMap, QStringList))));
        mpris = std::make_unique<Mpris>(window);
        ASSERT_TRUE(window.tell) << "the service did not start";
        settle();
    }
    // What the bus asks of `method` with `arguments`, answered.
    QDBusMessage call(const QString& interface, const QString& method, QVariantList arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(bus::kService, bus::kPath, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
        QApplication::processEvents();
        return reply;
    }
    QVariantMap properties() {
        const QDBusMessage reply = call("org.freedesktop.DBus.Properties", "GetAll", {bus::kPlayerInterface});
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    }
    // Tells the service that something may have changed and waits for the signals it sends.
    void settle() {
        if (window.tell) window.tell();
        QTest::qWait(150);
    }

    StandIn window;
    Changes changes;
    std::unique_ptr<Mpris> mpris;
};

// Every property in every state, the title for every shape of name.
TEST_F(MprisTest, EachPropertyInEachState) {
    const Playback S = Playback::Stopped, P = Playback::Playing, A = Playback::Paused;
    // clang-format off
    const std::vector<std::tuple<Remote::Selection, Playback, std::string, std::int64_t, const char*, bool, bool, bool,
                                 bool, double, QString>> rows = {
        {{},                           S, "",                 -1,  "Stopped", false, false, false, false, 1, ""},
        {{true, true, false, false},   P, "/m/1 low.mp3",     6000000, "Playing", true,  false, true,  true,  1, "1 low"},
        {{true, true, true, true},     A, "/m/2 mid.MP3",     7000000, "Paused",  true,  true,  true,  true,  0, "2 mid"},
        {{true, false, true, false},   S, "/m/3 high.mp3",    -1,  "Stopped", false, true,  true,  false, 1, "3 high"},
        {{},                           P, "/m/a.mp3.mp3",     -1,  "Playing", false, false, true,  false, 1, "a.mp3"},
        {{true, false, false, false},  A, "/m/\xff 100%.mp3", 500000, "Paused",  false, false, true,  true,  1, "\ufffd 100%"},
        {{true, false, false, false},  P, "/m/.mp3",          0,   "Playing", false, false, true,  true,  1, ".mp3"},
    };
    // clang-format on
    for (const auto& [selection, playback, path, lengthUs, status, next, previous, play, pause, volume, title] : rows) {
        SCOPED_TRACE(path);
        window.now = selection;
        window.status = {playback, path, lengthUs, 123456, 7};
        const QVariantMap now = properties();
        QVariantList got;
        for (const char* name : {"PlaybackStatus", "CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "Volume",
                                 "Position", "CanSeek", "CanControl"})
            got.append(now.value(name));
        EXPECT_EQ(got, (QVariantList{status, next, previous, play, pause, volume, 123456, false, true}))
            << QVariant(got).toStringList().join(' ').toStdString();
        const QVariantMap track = qdbus_cast<QVariantMap>(now.value("Metadata"));
        EXPECT_EQ(track.value("xesam:title").toString(), title);
        EXPECT_EQ(track.value("xesam:url").toString(), path.empty() ? QString() : bus::uriOf(path));
        EXPECT_EQ(track.value("mpris:length"), lengthUs > 0 ? QVariant(qlonglong(lengthUs)) : QVariant());
    }
}

// One signal for what changed, naming just that; none where nothing did.
TEST_F(MprisTest, ASignalForWhatChangedAndNoneOtherwise) {
    window.now = {true, true, false, false};
    window.status = {Playback::Playing, "/m/a.mp3", 6000000, 0, 1};
    settle();
    // clang-format off
    const std::vector<std::pair<std::function<void()>, QStringList>> rows = {
        {[] {},                                                 {}},
        {[&] { window.status.playback = Playback::Paused; },  {"PlaybackStatus"}},
        {[&] { window.now.muted = true; },                     {"Volume"}},
        {[&] { window.now.next = false; },                     {"CanGoNext"}},
        {[&] { window.now.previous = true; },                  {"CanGoPrevious"}},
        {[&] { window.status.lengthUs = 7000000; },                {"Metadata"}},
        {[&] { window.status.path = "/m/b.mp3"; },             {"Metadata"}},
        {[&] { window.status.positionUs = 99; },               {}},
        {[&] { window.status.playback = Playback::Stopped; }, {"CanPause", "PlaybackStatus"}},
        {[&] { window.now = {}; },                             {"CanGoPrevious", "CanPlay", "Volume"}},
    };
    // clang-format on
    for (const auto& [change, expected] : rows) {
        SCOPED_TRACE(expected.join(',').toStdString());
        changes.seen.clear();
        change();
        settle();
        EXPECT_EQ(changes.seen, expected.isEmpty() ? std::vector<QStringList>{} : std::vector<QStringList>{expected});
    }
}

// What each method asks of the window, in the state it is asked in.
TEST_F(MprisTest, EachMethodActsAsItsControlInEachState) {
    TempDir music;
    ASSERT_NO_THROW(writeTone(music / "x.mp3", kLow, 0.1));
    const QString player = bus::kPlayerInterface, root = "org.mpris.MediaPlayer2";
    const Remote::Selection none{}, first{true, true, false, false}, last{true, false, true, false};
    const Playback S = Playback::Stopped, P = Playback::Playing, A = Playback::Paused;
    using Asked = std::vector<std::string>;
    // clang-format off
    const std::vector<std::tuple<QString, QVariantList, Remote::Selection, Playback, Asked>> rows = {
        {"Next", {}, first, P, {"next"}},            {"Next", {}, last, P, {}},
        {"Next", {}, none, S, {}},                   {"Previous", {}, last, P, {"previous"}},
        {"Previous", {}, first, P, {}},              {"Pause", {}, first, P, {"pause"}},
        {"Pause", {}, first, A, {}},                 {"Pause", {}, none, P, {}},
        {"PlayPause", {}, first, P, {"pause"}},      {"PlayPause", {}, first, A, {"resume"}},
        {"PlayPause", {}, first, S, {"play"}},       {"Play", {}, first, P, {}},
        {"Play", {}, first, A, {"resume"}},          {"Play", {}, first, S, {"play"}},
        {"Play", {}, none, S, {}},                   {"Stop", {}, none, P, {"stop"}},
        {"Seek", {qlonglong(5)}, first, P, {}},
        {"OpenUri", {bus::uriOf(music / "x.mp3")}, none, S, {"file " + music / "x.mp3"}},
        {"OpenUri", {QString::fromStdString("file://" + music.path())}, none, S, {}},
        {"OpenUri", {"http://host/x.mp3"}, none, S, {}},
    };
    // clang-format on
    for (const auto& [method, arguments, selection, playback, asked] : rows) {
        SCOPED_TRACE(method.toStdString() + " " + QVariant(arguments).toString().toStdString());
        window.now = selection;
        window.status.playback = playback;
        window.asked.clear();
        const QDBusMessage reply = call(player, method, arguments);
        EXPECT_EQ(window.asked, asked);
        EXPECT_EQ(reply.type() == QDBusMessage::ErrorMessage, method == "OpenUri" && asked.empty());
    }
    for (const auto& [volume, asked] : {std::pair{0.0, "mute"}, {0.5, "unmute"}}) {
        window.asked.clear();
        call("org.freedesktop.DBus.Properties", "Set", {player, "Volume", QVariant::fromValue(QDBusVariant(volume))});
        EXPECT_EQ(window.asked, Asked{asked});
    }
    window.refuse = true;  // a file the window does not play, for a reason of its own
    const QString uri = bus::uriOf(music / "x.mp3");
    EXPECT_EQ(call(player, "OpenUri", {uri}).errorMessage(), "cannot open " + uri + ": it went");
    window.asked.clear();
    call(root, "Raise", {});
    call(root, "Quit", {});
    QTest::qWait(50);  // Quit closes the window after the answer
    EXPECT_EQ(window.asked, (Asked{"raise", "close"}));
}

}  // namespace
}  // namespace korvel::test

#include "mpris_test.moc"
