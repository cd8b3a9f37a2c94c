#pragma once

#include <QPointF>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app/remote.h"
#include "platform/controls/form.h"
#include "platform/controls/label.h"
#include "platform/controls/lists.h"
#include "platform/controls/shapes.h"

// The player's one window and every handler of its controls. The window owns all state: beyond
// the controls' own properties there are the pause and mute captions (the playback state as the
// user sees it) and GrabPoint. The file to play is never stored: it is always the file list's
// selection in the directory list's path at that moment. The ways in from outside the window
// reach it only as a Remote.
class frmKORVEL : public platform::Form, public Remote {
    Q_OBJECT
  public:
    explicit frmKORVEL(QWidget* parent = nullptr);

    // The controls, named as the handlers name them. Owned by the window.
    platform::Label* Label1;   // title strip and drag handle
    platform::Label* Label2;   // minimise
    platform::Label* Label3;   // close
    platform::Label* Label4;   // mute / unmute
    platform::Label* Label5;   // play
    platform::Label* Label6;   // pause / resume
    platform::Label* Label7;   // stop
    platform::Label* Label8;   // next file
    platform::Label* Label9;   // previous file
    platform::Label* Label10;  // count line
    platform::DirListBox* Dir1;
    platform::FileListBox* File1;
    platform::Image* Image1;
    platform::Line* Line1;
    platform::Line* Line2;
    platform::Line* Line3;

    // The mouse position inside the title strip at the last press on it, in twips.
    QPointF GrabPoint;

    // The count line's two endings: ") MP3 files in this directory" and ") mp3's in this dir".
    enum class Ending { Full, Short };
    QString CountCaption(Ending ending) const;

    void Form_Load();
    void Form_Unload();
    void Form_Paint();
    void Form_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Dir1_Change();
    void Dir1_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void File1_DblClick();
    void File1_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label1_MouseDown(std::int16_t button, std::int16_t shift, float x, float y);
    void Label1_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label2_Click();
    void Label3_Click();
    void Label3_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label4_Click();
    void Label4_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label5_Click();
    void Label5_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label6_Click();
    void Label6_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label7_Click();
    void Label7_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label8_Click();
    void Label8_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label9_Click();
    void Label9_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Label10_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);

    // Remote: what the desktop's ways in may do and see.
    bool openFolder(const std::string& folder) override;
    bool playFile(const std::string& file) override;
    void play() override { Label5_Click(); }
    void pause() override { pauseOrResume(true); }
    void resume() override { pauseOrResume(false); }
    void stop() override { Label7_Click(); }
    void next() override { Label8_Click(); }
    void previous() override { Label9_Click(); }
    void setMuted(bool muted) override;
    void raise() override;
    void close() override { Label3_Click(); }
    Selection selection() const override;
    platform::mci::DeviceStatus heard() const override;
    void watch(std::function<void()> changed) override;

  private:
    void createControls();
    void connectHandlers();
    void connectKeys();
    void highlight(platform::Label* member);
    void playSelected(const QString& separator);
    void pauseOrResume(bool pause);
    void openRemembered(const QString& directory);
    bool showFolder(const QString& folder);
    int rowNamed(const std::string& name) const;

    QObject* watching_ = nullptr;  // the context of what watch() connected
};
