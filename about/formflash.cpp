#include "formflash.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 230;

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// The background picture: a deep blue field with the program's name and a pair of scissors.
QPixmap drawBackground()
{
    QPixmap pm(kWidth, kHeight);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, kWidth, kHeight);
    g.setColorAt(0, QColor(0x1d, 0x4f, 0x9c));
    g.setColorAt(1, QColor(0x0c, 0x22, 0x4a));
    p.fillRect(pm.rect(), g);
    // A faint film strip along the bottom.
    p.setBrush(QColor(255, 255, 255, 22));
    p.setPen(Qt::NoPen);
    p.drawRect(0, 150, kWidth, 22);
    p.setBrush(QColor(255, 255, 255, 50));
    for (int x = 6; x < kWidth; x += 18)
        p.drawRect(x, 155, 9, 12);
    // Scissors cutting the strip.
    p.setPen(QPen(QColor(255, 255, 255, 230), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(46, 118), 11, 11);
    p.drawEllipse(QPointF(80, 118), 11, 11);
    p.drawLine(QPointF(53, 110), QPointF(84, 58));
    p.drawLine(QPointF(73, 110), QPointF(42, 58));
    // The name.
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(110, 55, 300, 50), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Snipora"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(200, 215, 240));
    p.drawText(QRect(112, 100, 300, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Cut audio and video, exactly."));
    return pm;
}

} // namespace

FormFlash::FormFlash(QWidget *parent, UrlOpener openUrl)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_openUrl(std::move(openUrl))
    , m_background(drawBackground())
{
    setObjectName(QStringLiteral("FormFlash"));
    setWindowTitle(QStringLiteral("Start..."));
    setFixedSize(kWidth, kHeight);
    if (parent)
        setWindowIcon(parent->windowIcon());

    m_labelVer = new QLabel(QStringLiteral("Version 8.0"), this);
    m_labelVer->setObjectName(QStringLiteral("LabelVer"));
    QFont verFont(QStringLiteral("Tahoma"));
    verFont.setPointSize(8);
    verFont.setBold(true);
    m_labelVer->setFont(verFont);
    m_labelVer->setStyleSheet(QStringLiteral("color: white;"));
    m_labelVer->setGeometry(twips(5115, 450, 930, 195));
    m_labelVer->adjustSize();
    m_labelVer->move(kWidth - m_labelVer->width() - 14, m_labelVer->y());

    m_labelCopyright = new QLabel(
        QStringLiteral("Copyright \u00a9 2026 Ferrolan Software. All rights reserved."), this);
    m_labelCopyright->setObjectName(QStringLiteral("LabelCopyright"));
    m_labelCopyright->setStyleSheet(QStringLiteral("color: #dfe8f6;"));
    m_labelCopyright->setGeometry(twips(210, 2700, 4515, 195));
    m_labelCopyright->adjustSize();

    m_siteLink = new QLabel(siteAddress().host(), this);
    m_siteLink->setObjectName(QStringLiteral("Label1"));
    m_siteLink->setStyleSheet(QStringLiteral("color: #9fd0ff; text-decoration: underline;"));
    m_siteLink->setCursor(Qt::PointingHandCursor);
    m_siteLink->setGeometry(twips(210, 3000, 1935, 210));
    m_siteLink->adjustSize();

    // The labels pass clicks to the window except the link, which handles its own.
    m_labelVer->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_labelCopyright->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_closeTimer.setInterval(8000);
    m_closeTimer.setSingleShot(true);
    connect(&m_closeTimer, &QTimer::timeout, this, &QDialog::close);
    m_closeTimer.start();
}

QUrl FormFlash::siteAddress()
{
    return QUrl(QStringLiteral("https://www.ferrolan.example/snipora/"));
}

void FormFlash::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_siteLink->geometry().contains(event->position().toPoint())) {
        openSite();
        return;
    }
    close();
}

void FormFlash::openSite()
{
    // A failure to open the site is not reported; the window stays open either way.
    if (m_openUrl)
        m_openUrl(siteAddress());
    else
        QDesktopServices::openUrl(siteAddress());
}

void FormFlash::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_background);
}
