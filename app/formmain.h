#pragma once

#include "sharedvalues.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class Encoder;
class MessageSink;
class Player;
class Probe;
class QLabel;
class QLineEdit;
class QPushButton;
class NaSlider;
class NaSlider1;

// What the main window is built from. The window owns the engines; the message sink is
// borrowed and must outlive the window.
struct FormMainParts
{
    Player *player = nullptr;   // owned by the window (re-parented)
    Encoder *encoder = nullptr; // owned by the window (re-parented)
    std::unique_ptr<Probe> probe;
    MessageSink *messages = nullptr;
    QString programFolder;      // the folder the program runs from
};

// The main window: a video area above a control pane. load() runs the start-up sequence and
// returns false when the program must end at once (the media library is missing); closing
// the window stops the engines and writes the settings back.
class FormMain : public QWidget
{
    Q_OBJECT
public:
    explicit FormMain(FormMainParts parts, QWidget *parent = nullptr);
    ~FormMain() override;

    bool load();

    SharedValues &shared() { return m_shared; }
    const SharedValues &shared() const { return m_shared; }
    QString firstStartFlag() const { return m_firstStartFlag; }
    QString showMoreSetting() const { return m_showMoreSetting; }
    bool moreOpen() const { return m_moreOpen; }
    QString lastOpenFolder() const { return m_lastOpenFolder; }

    // The More command: shows or hides the Help and About buttons.
    void runMore();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildControls();
    bool initialise();
    void queryUnload();
    void unload();
    void loadSkin();
    void layoutWindow();

    SharedValues m_shared;
    Player *m_player;
    Encoder *m_encoder;
    std::unique_ptr<Probe> m_probe;
    MessageSink *m_messages;
    QString m_programFolder;

    QString m_firstStartFlag;
    QString m_showMoreSetting;
    QString m_lastOpenFolder;
    bool m_moreOpen = true;
    bool m_loaded = false;
    bool m_unloaded = false;

    QTimer m_timer1;

    // Controls, named as the program's documentation names them.
    QWidget *m_picPlayer = nullptr;
    QLabel *m_picGuide = nullptr;
    QWidget *m_picPane = nullptr;
    QWidget *m_picCen = nullptr;
    NaSlider *m_naSlider1 = nullptr;
    NaSlider1 *m_naSliderVol = nullptr;
    QPushButton *m_btbOpen = nullptr;
    QPushButton *m_btnPause = nullptr;
    QPushButton *m_btnGoStart = nullptr;
    QPushButton *m_btnGoEnd = nullptr;
    QPushButton *m_btnSetStart = nullptr;
    QPushButton *m_btnSetEnd = nullptr;
    QLabel *m_picMute = nullptr;
    QPushButton *m_btnCut = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_labelDuration = nullptr;
    QLineEdit *m_editStart = nullptr;
    QLineEdit *m_editEnd = nullptr;
    QPushButton *m_btnHelp = nullptr;
    QPushButton *m_btnAbout = nullptr;
    QPushButton *m_btnMore = nullptr;
};
