#pragma once

#include <QOpenGLWindow>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

struct mpv_handle;
struct mpv_render_context;

// Frees an mpv render context; the GL context it was made in must be current.
struct MpvRenderContextRelease
{
    void operator()(mpv_render_context *context) const;
};

// The OpenGL surface mpv's render API draws into. The render context is created with the GL
// context and freed when the GL context goes away or the window is destroyed, whichever comes
// first; after that mpv calls nothing of the window.
class MpvVideoSurface final : public QOpenGLWindow
{
    Q_OBJECT
public:
    // Input over the surface (clicks, keys, files dropped) belongs to inputTarget's window.
    MpvVideoSurface(std::function<mpv_handle *()> handle, QWidget *inputTarget);
    ~MpvVideoSurface() override;

    bool hasRenderContext() const { return m_context != nullptr; }

protected:
    bool event(QEvent *event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    void freeContext();

    std::function<mpv_handle *()> m_handle;
    QPointer<QWidget> m_inputTarget;
    std::unique_ptr<mpv_render_context, MpvRenderContextRelease> m_context;
};

// The video pane. It is a plain black widget until the player first needs to draw; only then
// does it create its OpenGL surface, a window of its own inside the pane. The main window thus
// shows without starting OpenGL at all (on software rendering that is most of a start-up), and
// never has to be created again as an OpenGL window later.
class MpvVideoWidget final : public QWidget
{
    Q_OBJECT
public:
    MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent);
    ~MpvVideoWidget() override;

    // Creates the OpenGL surface if need be and shows it; deactivate() hides it, leaving the
    // black pane (nothing open).
    void activate();
    void deactivate();
    bool isActive() const;
    // Asks for a new frame to be drawn.
    void refresh();

    bool hasRenderContext() const { return m_surface && m_surface->hasRenderContext(); }
    // What the surface shows now (a black image while it is not active).
    QImage grabPicture();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    std::function<mpv_handle *()> m_handle;
    QPointer<MpvVideoSurface> m_surface;
    QWidget *m_container = nullptr;
};
