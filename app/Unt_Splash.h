#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QLabel;

/// A picture that fills its widget and reports a click through OnClick. It
/// looks the same enabled or disabled; disabled, it gets no clicks.
class TSplashImage : public QWidget
{
public:
    explicit TSplashImage(QWidget* parent = nullptr);

    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);

    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage picture_;
};

/// The splash and version window: a borderless, always-on-top picture with a
/// 1-pixel frame around a 398 x 298 client area, centred on the primary
/// screen, with the version in purple over it. Closing frees it, once
/// control is back in the message loop; until then it stays on screen. A
/// click on the picture closes the window while the picture is enabled (the
/// version window); the start-up splash disables it.
class Tfrm_Splash : public QWidget
{
public:
    explicit Tfrm_Splash(QWidget* parent = nullptr);
    ~Tfrm_Splash() override;

    /// The area inside the frame; Image1 fills it, Label1 sits on it.
    QWidget* Client = nullptr;
    TSplashImage* Image1 = nullptr;
    QLabel* Label1 = nullptr;

    /// True once the window has painted itself at least once.
    bool Painted() const { return painted_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Image1Click();

    bool painted_ = false;
};

/// The start-up splash while it exists; null otherwise.
extern Tfrm_Splash* frm_Splash;

/// Registers the pictures compiled into the program (splash, window icons);
/// harmless to call again.
void EnsureProgramResources();

/// Shows the start-up splash with its picture disabled, lets it paint, holds
/// the program for `waitMs` without processing messages and closes it.
void ShowStartupSplash(int waitMs = 1500);

/// Shows a new version window, picture enabled, without blocking; a click on
/// the picture closes it.
Tfrm_Splash* ShowVersionWindow();

/// Repaints the start-up splash at once, if it still exists.
void RepaintSplash();
