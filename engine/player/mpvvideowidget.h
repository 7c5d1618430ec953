#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>

struct mpv_handle;
struct mpv_render_context;

// Frees an mpv render context.
struct MpvRenderContextRelease
{
    void operator()(mpv_render_context *context) const;
};

// The video pane. mpv's software renderer draws each frame at the pane's size into memory on
// a thread of its own; the pane only paints the finished picture. Converting and scaling a
// large frame thus never holds up the user interface thread, and no OpenGL is needed (where
// there is no GPU, software OpenGL on the UI thread took up to a tenth of a second a frame).
// The pane is plain black until the player first needs to draw: the render context and its
// thread are made on the first activate().
class MpvVideoWidget final : public QWidget
{
    Q_OBJECT
public:
    MpvVideoWidget(std::function<mpv_handle *()> handle, QWidget *parent);
    ~MpvVideoWidget() override;

    // Makes the render context and its thread if need be and shows the picture;
    // deactivate() leaves the black pane (nothing open).
    void activate();
    void deactivate();
    bool isActive() const { return m_active; }
    // Asks for the frame to be drawn again (at the pane's size now).
    void refresh();

    bool hasRenderContext() const;
    // What the pane shows now (a black image while it is not active).
    QImage grabPicture();
    // The size, in device pixels, of the last frame drawn (empty when there is none).
    QSize frameSize() const { return m_frame.size(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    class Renderer;
    Q_INVOKABLE void takeFrame();

    std::function<mpv_handle *()> m_handle;
    std::unique_ptr<Renderer> m_renderer;
    QImage m_frame;
    bool m_active = false;
};
