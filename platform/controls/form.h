#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace platform {

// The top-level window: no system frame (its own labels serve as title strip, minimise and
// close), a taskbar button, a position in twips that code can set, and the window events.
//
// Unload is raised exactly once, however the window is closed (code, the window manager, the end
// of the session); it cannot be cancelled. After it, endProgram() ends the program.
class Form : public QWidget {
    Q_OBJECT
  public:
    explicit Form(QWidget* parent = nullptr);

    float Left() const;
    float Top() const;
    void setLeft(float twips);
    void setTop(float twips);
    void setClientTwips(int width, int height);

    // The window's state as the handlers set it: only kMinimised ever is.
    static constexpr std::int16_t kMinimised = 1;
    void setWindowStateValue(std::int16_t state);

    // Where the platform lets only the compositor move a window (Qt's wayland platforms), setting
    // Left and Top does nothing: this asks the compositor to move the window with the pointer
    // until the button held now is released, and returns whether it agreed. Elsewhere (X11) the
    // window moves itself, and this does nothing and returns false.
    bool moveWithPointer();

    // Closes the window, which raises Unload.
    void unloadWindow();

    // Ends the program at once: no further events are handled.
    void endProgram();

    // Tests stand in for ending the process.
    void setProgramEnder(std::function<void()> ender) { ender_ = std::move(ender); }
    // Tests stand in for the platform: its name, and the compositor asked to move the window.
    void setPlatformForTesting(const QString& name, std::function<bool()> compositorMove) {
        platformName_ = name;
        compositorMove_ = std::move(compositorMove);
    }

  signals:
    void Paint();
    void MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Unload();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    std::function<void()> ender_;
    QString platformName_;
    std::function<bool()> compositorMove_;
    bool unloaded_ = false;
};

}  // namespace platform
