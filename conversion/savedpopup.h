#pragma once

#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QPropertyAnimation;

// The "File Saved" notice: a small frameless panel that slides in at the bottom-right corner of
// the main window, stays five seconds and goes. It is built from items with ids, as the
// program's popup always was: a background, the message (id 3, opens the output folder), the
// title (does nothing) and a close button (id 2).
class SavedPopup final : public QWidget
{
    Q_OBJECT
public:
    struct Item
    {
        QRect rect;
        QString text;
        int id = 0;
        enum Kind { Background, Message, Title, CloseButton } kind = Background;
    };

    static constexpr int Width = 220;
    static constexpr int Height = 70;
    static constexpr int AnimationMs = 256;
    static constexpr int DisplayMs = 5000;

    explicit SavedPopup(QWidget *mainWindow, std::function<bool(const QUrl &)> openUrl = {});

    // Builds the items and shows the popup; a click on the message opens folder.
    void ShowSavedPopup(const QString &folder);
    const QList<Item> &items() const { return m_items; }
    QTimer &displayTimer() { return m_displayTimer; }
    QPoint restingPosition() const;

Q_SIGNALS:
    void itemClicked(int id);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void onItemClicked(int id);

    std::function<bool(const QUrl &)> m_openUrl;
    QList<Item> m_items;
    QString m_folder;
    QPixmap m_closeImage;
    QTimer m_displayTimer;
    QPropertyAnimation *m_animation = nullptr;
};
