#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QPropertyAnimation;

// The "File Saved" notice: a small frameless panel that slides in at the bottom-right corner of
// the main window, stays five seconds and goes. It is built from items with ids, as the
// program's popup always was: a background, the message (id 3, opens the output folder), the
// title (does nothing) and a close button (id 2).
//
// It is a window of its own, not a child of the main window, so that it can be clicked while
// the finished progress dialog still holds the main window; it follows the main window when
// that moves and goes when it is hidden. While held (the progress dialog is open) it stays;
// released, it stays its full display time from then.
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

    // openUrl opens a folder with the desktop's handler; showFile shows a file selected in the
    // desktop's file manager and returns false where none offers that. Empty: the desktop's.
    explicit SavedPopup(QWidget *mainWindow, std::function<bool(const QUrl &)> openUrl = {},
                        std::function<bool(const QString &)> showFile = {});
    ~SavedPopup() override;

    // Builds the items and shows the popup; a click on the message shows the saved file in
    // its folder (or opens the folder).
    void ShowSavedPopup(const QString &folder, const QString &savedFile = QString());
    void hold();
    void release();
    const QList<Item> &items() const { return m_items; }
    QTimer &displayTimer() { return m_displayTimer; }
    // Where the popup rests, in screen coordinates: the main window's bottom-right corner.
    QPoint restingPosition() const;

Q_SIGNALS:
    void itemClicked(int id);
    // Neither the file manager nor the desktop's handler could show the folder.
    void folderNotOpened(const QString &folder);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void onItemClicked(int id);

    QPointer<QWidget> m_anchor;
    std::function<bool(const QUrl &)> m_openUrl;
    std::function<bool(const QString &)> m_showFile;
    QList<Item> m_items;
    QString m_folder;
    QString m_savedFile;
    bool m_held = false;
    QPixmap m_closeImage;
    QTimer m_displayTimer;
    QPropertyAnimation *m_animation = nullptr;
};
