#include "savedpopup.h"

#include "filemanager.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

namespace {

const QString kTitle = QStringLiteral("Snipora");

// The close button's picture: a small cross.
QPixmap closeImage()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
    return pm;
}

} // namespace

SavedPopup::SavedPopup(QWidget *mainWindow, std::function<bool(const QUrl &)> openUrl,
                       std::function<bool(const QString &)> showFile)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint)
    , m_anchor(mainWindow)
    , m_openUrl(std::move(openUrl))
    , m_showFile(std::move(showFile))
    , m_closeImage(closeImage())
{
    setObjectName(QStringLiteral("Popup"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(Width, Height);
    hide();
    if (mainWindow)
        mainWindow->installEventFilter(this);
    m_displayTimer.setSingleShot(true);
    connect(&m_displayTimer, &QTimer::timeout, this, &QWidget::hide);
    m_animation = new QPropertyAnimation(this, "pos", this);
    m_animation->setDuration(AnimationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(this, &SavedPopup::itemClicked, this, &SavedPopup::onItemClicked);
}

SavedPopup::~SavedPopup()
{
    if (m_anchor)
        m_anchor->removeEventFilter(this);
}

QPoint SavedPopup::restingPosition() const
{
    if (!m_anchor)
        return QPoint(0, 0);
    return m_anchor->mapToGlobal(
        QPoint(m_anchor->width() - Width - 4, m_anchor->height() - Height - 4));
}

bool SavedPopup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_anchor && isVisible()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            m_animation->stop();
            move(restingPosition());
            break;
        case QEvent::Hide:
        case QEvent::Close:
            m_displayTimer.stop();
            hide();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SavedPopup::hold()
{
    m_held = true;
    m_displayTimer.stop();
}

void SavedPopup::release()
{
    m_held = false;
    if (isVisible())
        m_displayTimer.start(DisplayMs);
}

void SavedPopup::ShowSavedPopup(const QString &folder, const QString &savedFile)
{
    m_folder = folder;
    m_savedFile = savedFile;
    m_items.clear();
    // Items by left, top, right, bottom.
    auto box = [](int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); };
    m_items << Item { box(0, 0, 220, 70), QString(), 0, Item::Background };
    m_items << Item { box(20, 30, 200, 100),
                      QStringLiteral("File Saved. Click here to open the output folder"), 3,
                      Item::Message };
    m_items << Item { box(5, 0, 170, 25), kTitle, 0, Item::Title };
    m_items << Item { box(200, 2, 218, 20), QString(), 2, Item::CloseButton };

    // Slide up from the bottom edge, then stay for the display time.
    const QPoint end = restingPosition();
    const QPoint start(end.x(), end.y() + Height + 4);
    m_animation->stop();
    m_animation->setStartValue(start);
    m_animation->setEndValue(end);
    move(start);
    show();
    raise();
    m_animation->start();
    if (!m_held)
        m_displayTimer.start(AnimationMs + DisplayMs);
    update();
}

void SavedPopup::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (const Item &item : m_items) {
        switch (item.kind) {
        case Item::Background:
            p.setPen(Qt::black);
            p.setBrush(QColor(255, 255, 225));
            p.drawRect(QRectF(item.rect).adjusted(0.5, 0.5, -0.5, -0.5));
            break;
        case Item::Message: {
            QFont f = font();
            f.setUnderline(true);
            p.setFont(f);
            p.setPen(QColor(0, 70, 160));
            p.drawText(item.rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, item.text);
            break;
        }
        case Item::Title: {
            QFont f = font();
            f.setBold(true);
            p.setFont(f);
            p.setPen(Qt::black);
            p.drawText(item.rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, item.text);
            break;
        }
        case Item::CloseButton:
            p.drawPixmap(item.rect.topLeft() + QPoint(1, 1), m_closeImage);
            break;
        }
    }
}

void SavedPopup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    // The topmost item under the pointer that carries an id.
    for (auto it = m_items.crbegin(); it != m_items.crend(); ++it) {
        if (it->id != 0 && it->rect.contains(at)) {
            Q_EMIT itemClicked(it->id);
            return;
        }
        if (it->kind == Item::Title && it->rect.contains(at))
            return; // the title does nothing
    }
}

void SavedPopup::onItemClicked(int id)
{
    if (id == 1 || id == 2) {
        m_displayTimer.stop();
        hide();
    } else if (id == 3) {
        m_displayTimer.stop();
        hide();
        // The file selected in its folder where the file manager can do that, else the folder.
        if (!m_savedFile.isEmpty()
            && (m_showFile ? m_showFile(m_savedFile) : ShowInFileManager(m_savedFile)))
            return;
        const QUrl url = QUrl::fromLocalFile(m_folder);
        if (!(m_openUrl ? m_openUrl(url) : QDesktopServices::openUrl(url)))
            Q_EMIT folderNotOpened(m_folder);
    }
}
