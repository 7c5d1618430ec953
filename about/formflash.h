#pragma once

#include <QDialog>
#include <QTimer>
#include <QUrl>

#include <functional>

class QLabel;

// The About window: a small topmost picture with the version, the rights notice and a link to
// the maker's site. It closes itself after eight seconds or on a click on its background; a
// click on the link opens the site and leaves the window open.
class FormFlash final : public QDialog
{
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl &)>;

    explicit FormFlash(QWidget *parent = nullptr, UrlOpener openUrl = {});

    static QUrl siteAddress();
    QTimer &closeTimer() { return m_closeTimer; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void openSite();

    UrlOpener m_openUrl;
    QTimer m_closeTimer;
    QLabel *m_labelVer = nullptr;
    QLabel *m_labelCopyright = nullptr;
    QLabel *m_siteLink = nullptr;
    QPixmap m_background;
};
