#pragma once

#include <QLabel>
#include <QMouseEvent>

// A picture or text that reports a left click (press and release over it).
class ClickLabel final : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = event->button() == Qt::LeftButton;
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const bool click = m_pressed && event->button() == Qt::LeftButton
            && rect().contains(event->position().toPoint());
        m_pressed = false;
        if (click)
            Q_EMIT clicked();
    }

private:
    bool m_pressed = false;
};
