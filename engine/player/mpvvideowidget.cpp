#include "mpvvideowidget.h"

#include <QPainter>
#include <QPointer>
#include <QResizeEvent>

#include <mpv/render.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// mpv's software renderer works fastest on rows and pictures aligned to 64 bytes.
constexpr qsizetype kAlign = 64;
// The drawing thread (and the scaler's threads it starts) yields to the user interface, as
// mpv's own threads do: on Linux each thread has its own nice value, inherited by the threads
// it starts.
constexpr int kRenderNiceness = 4;

void lowerThisThreadsPriority()
{
#ifdef __linux__
    const id_t thread = static_cast<id_t>(gettid());
    const int now = getpriority(PRIO_PROCESS, thread);
    setpriority(PRIO_PROCESS, thread, std::min(19, std::max(now, 0) + kRenderNiceness));
#endif
}

void freeAligned(void *data)
{
    std::free(data);
}

// An image of the given size whose rows start on kAlign-byte boundaries; null when it cannot
// be had.
QImage alignedImage(QSize size)
{
    const qsizetype stride = (qsizetype(size.width()) * 4 + kAlign - 1) / kAlign * kAlign;
    void *data = std::aligned_alloc(size_t(kAlign), size_t(stride * size.height()));
    if (!data)
        return QImage();
    return QImage(static_cast<uchar *>(data), size.width(), size.height(), stride,
                  QImage::Format_RGB32, freeAligned, data);
}

} // namespace

void MpvRenderContextRelease::operator()(mpv_render_context *context) const
{
    mpv_render_context_free(context);
}

// The thread that draws: woken by mpv when a frame is due, or by the pane when its size
// changed, it draws into a new image and hands it to the pane. Only this thread calls the
// render functions once it runs (mpv forbids calling them at the same time from two threads);
// it frees the render context before it ends.
class MpvVideoWidget::Renderer
{
public:
    Renderer(mpv_render_context *context, MpvVideoWidget *widget)
        : m_context(context)
        , m_widget(widget)
    {
        mpv_render_context_set_update_callback(m_context.get(), &Renderer::onUpdate, this);
        m_thread = std::thread([this] { run(); });
    }
    ~Renderer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void redraw(QSize size)
    {
        {
            std::lock_guard lock(m_mutex);
            m_size = size;
            m_redraw = true;
        }
        m_wake.notify_one();
    }
    QImage takeFrame()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_ready, QImage());
    }

private:
    static void onUpdate(void *self)
    {
        // On an mpv thread: no mpv call may be made here, only the render thread woken.
        auto *r = static_cast<Renderer *>(self);
        {
            std::lock_guard lock(r->m_mutex);
            r->m_update = true;
        }
        r->m_wake.notify_one();
    }
    void run()
    {
        lowerThisThreadsPriority();
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || m_update || m_redraw; });
            if (m_quit)
                break;
            const bool update = std::exchange(m_update, false);
            const bool redraw = std::exchange(m_redraw, false);
            const QSize size = m_size;
            lock.unlock();
            const bool frame
                = update && (mpv_render_context_update(m_context.get()) & MPV_RENDER_UPDATE_FRAME);
            if ((frame || redraw) && !size.isEmpty())
                draw(size);
            lock.lock();
        }
        lock.unlock();
        mpv_render_context_set_update_callback(m_context.get(), nullptr, nullptr);
        m_context.reset();
    }
    void draw(QSize size)
    {
        QImage image = alignedImage(size);
        if (image.isNull())
            return;
        int extent[2] = { size.width(), size.height() };
        size_t stride = size_t(image.bytesPerLine());
        // Format_RGB32 is blue, green, red, unused in memory on little-endian machines.
        char format[] = "bgr0";
        mpv_render_param params[] = {
            { MPV_RENDER_PARAM_SW_SIZE, extent },    { MPV_RENDER_PARAM_SW_FORMAT, format },
            { MPV_RENDER_PARAM_SW_STRIDE, &stride }, { MPV_RENDER_PARAM_SW_POINTER, image.bits() },
            { MPV_RENDER_PARAM_INVALID, nullptr },
        };
        if (mpv_render_context_render(m_context.get(), params) < 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            m_ready = std::move(image);
        }
        // The pane outlives this thread (its destructor joins it); a call still queued when
        // it goes is dropped with it.
        QMetaObject::invokeMethod(m_widget, "takeFrame", Qt::QueuedConnection);
    }

    std::unique_ptr<mpv_render_context, MpvRenderContextRelease> m_context;
    MpvVideoWidget *m_widget;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_update = false;
    bool m_redraw = false;
    QSize m_size;
    QImage m_ready;
    std::thread m_thread;
};

MpvVideoWidget::MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent)
    : QWidget(parent)
    , m_handle(std::move(handle))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// The render context goes with the renderer, before anything it refers to.
MpvVideoWidget::~MpvVideoWidget() = default;

void MpvVideoWidget::activate()
{
    if (!m_renderer) {
        mpv_handle *mpv = m_handle ? m_handle() : nullptr;
        if (!mpv)
            return;
        char api[] = MPV_RENDER_API_TYPE_SW;
        mpv_render_param params[] = {
            { MPV_RENDER_PARAM_API_TYPE, api },
            { MPV_RENDER_PARAM_INVALID, nullptr },
        };
        mpv_render_context *created = nullptr;
        if (mpv_render_context_create(&created, mpv, params) < 0)
            return;
        m_renderer = std::make_unique<Renderer>(created, this);
    }
    m_active = true;
    refresh();
}

void MpvVideoWidget::deactivate()
{
    m_active = false;
    m_frame = QImage();
    update();
}

bool MpvVideoWidget::hasRenderContext() const
{
    return m_renderer != nullptr;
}

void MpvVideoWidget::refresh()
{
    if (m_renderer && m_active)
        m_renderer->redraw(size() * devicePixelRatio());
}

void MpvVideoWidget::takeFrame()
{
    if (!m_renderer)
        return;
    QImage frame = m_renderer->takeFrame();
    if (frame.isNull() || !m_active)
        return;
    frame.setDevicePixelRatio(devicePixelRatio());
    m_frame = std::move(frame);
    update();
}

QImage MpvVideoWidget::grabPicture()
{
    QImage picture(size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (m_active && !m_frame.isNull()) {
        QPainter painter(&picture);
        painter.drawImage(QRect(QPoint(), size()), m_frame);
    }
    return picture;
}

void MpvVideoWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_active || m_frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A frame drawn for the size before a resize fills the pane until the next one comes.
    painter.drawImage(QRect(QPoint(), size()), m_frame);
}

void MpvVideoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refresh();
}
