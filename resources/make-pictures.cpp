// Draws the splash picture splash.jpg and renders the icon tunemill.svg as
// the PNGs tunemill-<size>.png (the SVG icon engine, libqt6svg6, must be
// installed). Build the target tunemill_make_pictures and run it with the
// resources folder as its argument:
//   QT_QPA_PLATFORM=offscreen build/app/tunemill_make_pictures resources

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QString>

#include <cmath>
#include <cstdio>

namespace {

// Every size of the icon from the one scalable drawing, through Qt's SVG
// icon engine.
bool WriteIconPngs(const QString& folder)
{
    const QIcon icon(folder + QStringLiteral("tunemill.svg"));
    if (icon.isNull())
        return false;
    bool written = true;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        written = image.size() == QSize(size, size) &&
                  image.save(folder + QStringLiteral("tunemill-%1.png").arg(size), "PNG") &&
                  written;
    }
    return written;
}

// 398 x 298: a calm light gradient, a record on the left, the name on the
// right and a waveform below it. The area around (356, 152), where the
// version label goes, stays plain.
bool WriteSplash(const QString& file)
{
    constexpr int width = 398, height = 298;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient back(0, 0, width * 0.4, height);
    back.setColorAt(0, QColor(0xf6, 0xf3, 0xec));
    back.setColorAt(1, QColor(0xd6, 0xe3, 0xef));
    painter.fillRect(image.rect(), back);

    // The record, partly off the left edge.
    const QPointF centre(96, 150);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(centre + QPointF(4, 6), 112, 112);
    painter.setBrush(QColor(0x1b, 0x1d, 0x26));
    painter.drawEllipse(centre, 110, 110);
    painter.setBrush(Qt::NoBrush);
    for (double radius = 100; radius > 44; radius -= 7) {
        painter.setPen(QPen(QColor(0x3a, 0x3e, 0x50), 1.6));
        painter.drawEllipse(centre, radius, radius);
    }
    QColor shine(Qt::white);
    shine.setAlphaF(0.35f);
    QPen shinePen(shine, 5);
    shinePen.setCapStyle(Qt::RoundCap);
    painter.setPen(shinePen);
    painter.drawArc(QRectF(centre.x() - 88, centre.y() - 88, 176, 176), 95 * 16, 55 * 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf2, 0xa6, 0x3b));
    painter.drawEllipse(centre, 40, 40);
    painter.setBrush(QColor(0xf6, 0xf3, 0xec));
    painter.drawEllipse(centre, 6, 6);

    // The name.
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(46);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(0x24, 0x3b, 0x55));
    painter.drawText(QRectF(214, 58, 180, 60), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Tune"));
    painter.setPen(QColor(0x2f, 0x7f, 0xa8));
    painter.drawText(QRectF(214, 102, 180, 40), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("mill"));

    // A waveform under the label's place, bars growing and fading.
    const double baseline = 232;
    for (int bar = 0; bar < 26; ++bar) {
        const double x = 218 + bar * 6.5;
        const double phase = bar * 0.55;
        const double amplitude = 6 + 20 * std::fabs(std::sin(phase) * std::cos(phase * 0.37));
        QColor colour(0x2f, 0x7f, 0xa8);
        colour.setAlphaF(static_cast<float>(0.85 - bar * 0.02));
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(x, baseline - amplitude, 4, 2 * amplitude), 2, 2);
    }
    painter.end();
    return image.save(file, "JPEG", 92);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    bool written = WriteSplash(folder + QStringLiteral("splash.jpg"));
    written = WriteIconPngs(folder) && written;
    if (!written)
        std::fprintf(stderr, "some pictures could not be written\n");
    return written ? 0 : 1;
}
