#include "mpvvideowidget.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QResizeEvent>

#include <mpv/render_gl.h>

namespace {

void *procAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(QByteArray(name))) : nullptr;
}

void onMpvUpdate(void *surface)
{
    // Called on mpv's render thread: only queue a repaint onto the UI thread.
    auto *s = static_cast<MpvVideoSurface *>(surface);
    QMetaObject::invokeMethod(s, qOverload<>(&QPaintDeviceWindow::update), Qt::QueuedConnection);
}

} // namespace

void MpvRenderContextRelease::operator()(mpv_render_context *context) const
{
    mpv_render_context_free(context);
}

MpvVideoSurface::MpvVideoSurface(std::function<mpv_handle *()> handle, QWidget *inputTarget)
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    , m_handle(std::move(handle))
    , m_inputTarget(inputTarget)
{
    setFlags(flags() | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
}

bool MpvVideoSurface::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        // A file dropped on the picture is dropped on the main window.
        if (m_inputTarget && m_inputTarget->window())
            return QCoreApplication::sendEvent(m_inputTarget->window(), event);
        break;
    default:
        break;
    }
    return QOpenGLWindow::event(event);
}

MpvVideoSurface::~MpvVideoSurface()
{
    // QOpenGLWindow's own destructor destroys the GL context later: this class is gone then.
    if (context())
        disconnect(context(), nullptr, this, nullptr);
    if (m_context) {
        makeCurrent();
        freeContext();
        doneCurrent();
    }
}

void MpvVideoSurface::initializeGL()
{
    mpv_handle *mpv = m_handle ? m_handle() : nullptr;
    if (m_context || !mpv)
        return;
    mpv_opengl_init_params gl { procAddress, nullptr };
    mpv_render_param params[] = {
        { MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL) },
        { MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl },
        { MPV_RENDER_PARAM_INVALID, nullptr },
    };
    mpv_render_context *created = nullptr;
    if (mpv_render_context_create(&created, mpv, params) < 0)
        return;
    m_context.reset(created);
    mpv_render_context_set_update_callback(m_context.get(), onMpvUpdate, this);
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        freeContext();
        doneCurrent();
    });
}

void MpvVideoSurface::paintGL()
{
    if (!m_context) {
        QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal ratio = devicePixelRatio();
    mpv_opengl_fbo fbo { int(defaultFramebufferObject()), int(width() * ratio),
                         int(height() * ratio), 0 };
    int flip = 1;
    // The frame is drawn when mpv says it is due: the UI thread never sleeps here until its
    // display time.
    int block = 0;
    mpv_render_param params[] = {
        { MPV_RENDER_PARAM_OPENGL_FBO, &fbo },
        { MPV_RENDER_PARAM_FLIP_Y, &flip },
        { MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block },
        { MPV_RENDER_PARAM_INVALID, nullptr },
    };
    mpv_render_context_render(m_context.get(), params);
}

void MpvVideoSurface::freeContext()
{
    m_context.reset();
}

MpvVideoWidget::MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent)
    : QWidget(parent)
    , m_handle(std::move(handle))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

MpvVideoWidget::~MpvVideoWidget()
{
    // The container owns the surface; deleting it here, while this widget is still whole,
    // frees mpv's render context before anything it refers to goes away.
    delete m_container;
}

void MpvVideoWidget::activate()
{
    if (!m_container) {
        auto *surface = new MpvVideoSurface(m_handle, this);
        m_surface = surface;
        m_container = QWidget::createWindowContainer(surface, this);
        m_container->setObjectName(QStringLiteral("VideoSurface"));
        m_container->setGeometry(rect());
        // Mouse and key events belong to the main window, as over the rest of the pane.
        m_container->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_container->setFocusPolicy(Qt::NoFocus);
    }
    m_container->show();
    refresh();
}

void MpvVideoWidget::deactivate()
{
    if (m_container)
        m_container->hide();
    update();
}

bool MpvVideoWidget::isActive() const
{
    return m_container && m_container->isVisible();
}

void MpvVideoWidget::refresh()
{
    if (m_surface && isActive())
        m_surface->update();
}

QImage MpvVideoWidget::grabPicture()
{
    if (!m_surface || !isActive()) {
        QImage black(size(), QImage::Format_RGB32);
        black.fill(Qt::black);
        return black;
    }
    return m_surface->grabFramebuffer();
}

void MpvVideoWidget::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Qt::black);
    refresh();
}

void MpvVideoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_container)
        m_container->setGeometry(rect());
}
