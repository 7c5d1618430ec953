#pragma once

#include <QString>
#include <QStringList>

// What the playback and range logic needs of the main window's controls. The main window
// implements it with its widgets; tests implement it with a recorder. Slider coordinates are
// the slider's twips.
class MainView
{
public:
    virtual ~MainView() = default;

    // Position slider (tenths of a second)
    virtual int positionValue() const = 0;
    virtual void setPositionValue(int value) = 0;
    virtual int positionMin() const = 0;
    virtual int positionMax() const = 0;
    virtual void setPositionMax(int max) = 0;
    virtual void setPositionSelStart(int start) = 0;
    virtual void setPositionSelLength(int length) = 0;
    // The value the slider's own mapping gives for an x in its twips.
    virtual int positionValueAt(double xTwips) const = 0;

    // Volume slider (0..128)
    virtual int volumeValue() const = 0;
    virtual void setVolumeValue(int value) = 0;
    virtual void setVolumeSelLength(int length) = 0;
    virtual int volumeValueAt(double xTwips) const = 0;

    // The video pane's size in pixels.
    virtual int videoPaneWidth() const = 0;
    virtual int videoPaneHeight() const = 0;

    // Texts
    virtual void setPositionLabel(const QString &text) = 0; // Label1
    virtual void setDurationLabel(const QString &text) = 0; // LabelDuration
    virtual QString startText() const = 0; // EditStart
    virtual void setStartText(const QString &text) = 0;
    virtual QString endText() const = 0; // EditEnd
    virtual void setEndText(const QString &text) = 0;
    // True once when the box holds an edit the user has not confirmed yet (the focus is still
    // in it); taking it clears that state.
    virtual bool takePendingStartEdit() = 0;
    virtual bool takePendingEndEdit() = 0;
    virtual void setWindowCaption(const QString &text) = 0;

    // The play/pause button: true while it offers Play (the player is paused or stopped).
    virtual bool offersPlay() const = 0;
    virtual void setOffersPlay(bool play) = 0;

    // The position slider and the eight controls that need an open file.
    virtual void setFileControlsEnabled(bool enabled) = 0;
    virtual void setCutEnabled(bool enabled) = 0;
    virtual void setMutedPicture(bool muted) = 0;
    // The start hint over the video area: shown whenever no file is open.
    virtual void setGuideVisible(bool visible) = 0;
    virtual void clearVideo() = 0;
    virtual void setBusy(bool busy) = 0;
    // An open of the named file has started: should it take more than a moment, the window
    // says so and offers to cancel it. hideOpening() ends that.
    virtual void showOpening(const QString &fileName) = 0;
    virtual void hideOpening() = 0;
    // Keeps the main window out of the always-on-top band without moving it.
    virtual void leaveTopmost() = 0;
    // Repaints the player's video window at once.
    virtual void repaintVideo() = 0;

    // The Open dialog: the chosen path, or "" when cancelled.
    virtual QString chooseMediaFile(const QString &folder, const QStringList &filters) = 0;
    virtual void showPlainMessage(const QString &text) = 0;
    // Shows the output settings dialog modally.
    virtual void showOutputDialog() = 0;
};
