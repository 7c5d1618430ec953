#pragma once

#include <QOpenGLWidget>

#include <functional>

struct mpv_handle;
struct mpv_render_context;

// Draws mpv's video through the render API. The render context is created with the GL
// context and freed when the GL context goes away or the widget is destroyed, whichever comes
// first; after that mpv calls nothing of the widget.
class MpvVideoWidget final : public QOpenGLWidget
{
    Q_OBJECT
public:
    MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent);
    ~MpvVideoWidget() override;

    bool hasRenderContext() const { return m_context != nullptr; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void freeContext();

    std::function<mpv_handle *()> m_handle;
    mpv_render_context *m_context = nullptr;
};
