#include "app/Unt_Splash.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include <mutex>

Tfrm_Splash* frm_Splash = nullptr;

// Outside any namespace, as the resource initialiser requires. The resources
// live in a static library, so nothing would pull them in otherwise.
void EnsureProgramResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(tunemill); });
}

namespace {

constexpr int kClientWidth = 398;
constexpr int kClientHeight = 298;
constexpr int kFrame = 1;

} // namespace

TSplashImage::TSplashImage(QWidget* parent) : QWidget(parent) {}

void TSplashImage::SetPicture(const QImage& picture)
{
    picture_ = picture;
    update();
}

void TSplashImage::paintEvent(QPaintEvent*)
{
    // Drawn by hand: a disabled label would grey its picture out.
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

void TSplashImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        OnClick)
        OnClick();
}

Tfrm_Splash::Tfrm_Splash(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen)
{
    EnsureProgramResources();
    setFixedSize(kClientWidth + 2 * kFrame, kClientHeight + 2 * kFrame);

    Client = new QWidget(this);
    Client->setGeometry(kFrame, kFrame, kClientWidth, kClientHeight);

    Image1 = new TSplashImage(Client);
    Image1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Image1->SetPicture(QImage(QStringLiteral(":/tunemill/splash.jpg")));
    Image1->OnClick = [this] { Image1Click(); };

    Label1 = new QLabel(QStringLiteral("Ver1.00"), Client);
    Label1->move(356, 152);
    // 42 px are left right of the label. A Japanese gothic of 12 px draws
    // Latin letters 6 px wide, so "Ver1.00" fits them; wider faces lose the
    // last digit.
    QFont font = Label1->font();
    font.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("Nimbus Sans")});
    font.setPixelSize(12);
    Label1->setFont(font);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x80));
    Label1->setPalette(palette);
    Label1->adjustSize();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect bounds = rect();
        bounds.moveCenter(screen->availableGeometry().center());
        move(bounds.topLeft());
    }
}

Tfrm_Splash::~Tfrm_Splash()
{
    if (frm_Splash == this)
        frm_Splash = nullptr;
}

void Tfrm_Splash::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painted_ = true;
}

void Tfrm_Splash::closeEvent(QCloseEvent* event)
{
    // Freed instead of hidden: it stays on screen until the message loop
    // frees it, as the start-up splash must cover the main window while that
    // is built and shown.
    event->ignore();
    deleteLater();
}

void Tfrm_Splash::Image1Click()
{
    close();
}

void ShowStartupSplash(int waitMs)
{
    auto* splash = new Tfrm_Splash;
    frm_Splash = splash;
    splash->Image1->setEnabled(false);
    splash->show();
    // On X11 a mapped window that never paints shows nothing, so let paint
    // events through (no input) until it has painted, for a second at most.
    QElapsedTimer elapsed;
    elapsed.start();
    while (!splash->Painted() && elapsed.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!splash->Painted())
            QThread::msleep(2);
    }
    QThread::msleep(static_cast<unsigned long>(waitMs));
    splash->close();
}

Tfrm_Splash* ShowVersionWindow()
{
    auto* window = new Tfrm_Splash;
    window->show();
    return window;
}

void RepaintSplash()
{
    if (frm_Splash)
        frm_Splash->repaint();
}
