#include "mpvvideowidget.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <mpv/render_gl.h>

namespace {

void *procAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(QByteArray(name)))
                   : nullptr;
}

void onMpvUpdate(void *widget)
{
    // Called on mpv's render thread: only queue a repaint onto the UI thread.
    auto *w = static_cast<MpvVideoWidget *>(widget);
    QMetaObject::invokeMethod(w, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

} // namespace

MpvVideoWidget::MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent)
    : QOpenGLWidget(parent)
    , m_handle(std::move(handle))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

MpvVideoWidget::~MpvVideoWidget()
{
    // QOpenGLWidget's own destructor destroys the GL context later: this class is gone then.
    if (context())
        disconnect(context(), nullptr, this, nullptr);
    if (m_context) {
        makeCurrent();
        freeContext();
        doneCurrent();
    }
}

void MpvVideoWidget::initializeGL()
{
    mpv_handle *mpv = m_handle ? m_handle() : nullptr;
    if (m_context || !mpv)
        return;
    mpv_opengl_init_params gl{procAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_context, mpv, params) < 0) {
        m_context = nullptr;
        return;
    }
    mpv_render_context_set_update_callback(m_context, onMpvUpdate, this);
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        freeContext();
        doneCurrent();
    });
}

void MpvVideoWidget::paintGL()
{
    if (!m_context) {
        QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{int(defaultFramebufferObject()), int(width() * ratio),
                       int(height() * ratio), 0};
    int flip = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_context, params);
}

void MpvVideoWidget::freeContext()
{
    if (!m_context)
        return;
    mpv_render_context_free(m_context);
    m_context = nullptr;
}
