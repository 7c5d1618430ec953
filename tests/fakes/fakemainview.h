#pragma once

#include "mainview.h"
#include "slidermath.h"

#include <QStringList>

#include <utility>

// A main window double: plain fields for the controls, the slider's clamping and mapping for
// a 600 px position slider (ThumbHalfWidth 120, TrackLength 8760) and a 72 px volume slider.
class FakeMainView final : public MainView
{
public:
    int value = 0, min = 0, max = 1000, selStart = 0, selLength = 0;
    int volume = 128, volumeSel = 128;
    QString label1, labelDuration, start = QStringLiteral("00:00:00.0"),
                                   end = QStringLiteral("00:00:00.0"), caption;
    bool startEdited = false, endEdited = false; // an edit not yet confirmed
    bool play = true, fileControls = false, cut = false, muted = false, guideHidden = false;
    int busyDepth = 0, clears = 0, dialogs = 0, repaints = 0;
    int paneWidth = 800, paneHeight = 478;
    QString chosenFile;
    QString opening; // the name the open indicator shows, "" while hidden
    QString chooserFolder;
    QStringList messages;
    std::function<void()> onDialog;

    int positionValue() const override { return value; }
    void setPositionValue(int v) override
    {
        if (v > max)
            v = max;
        if (v < min)
            v = min;
        value = v;
    }
    int positionMin() const override { return min; }
    int positionMax() const override { return max; }
    void setPositionMax(int m) override { max = m; }
    void setPositionSelStart(int s) override { selStart = s; }
    void setPositionSelLength(int l) override { selLength = l; }
    int positionValueAt(double x) const override
    {
        return SliderMath::xToValue(x, min, max, 120, 8760);
    }
    int volumeValue() const override { return volume; }
    void setVolumeValue(int v) override { volume = std::clamp(v, 0, 128); }
    void setVolumeSelLength(int l) override { volumeSel = l; }
    int volumeValueAt(double x) const override { return SliderMath::xToValue(x, 0, 128, 90, 900); }
    int videoPaneWidth() const override { return paneWidth; }
    int videoPaneHeight() const override { return paneHeight; }
    void setPositionLabel(const QString &t) override { label1 = t; }
    void setDurationLabel(const QString &t) override { labelDuration = t; }
    QString startText() const override { return start; }
    void setStartText(const QString &t) override { start = t; }
    QString endText() const override { return end; }
    void setEndText(const QString &t) override { end = t; }
    bool takePendingStartEdit() override { return std::exchange(startEdited, false); }
    bool takePendingEndEdit() override { return std::exchange(endEdited, false); }
    void setWindowCaption(const QString &t) override { caption = t; }
    bool offersPlay() const override { return play; }
    void setOffersPlay(bool p) override { play = p; }
    void setFileControlsEnabled(bool e) override
    {
        fileControls = e;
        cut = e;
    }
    void setCutEnabled(bool e) override { cut = e; }
    void setMutedPicture(bool m) override { muted = m; }
    void setGuideVisible(bool visible) override { guideHidden = !visible; }
    void clearVideo() override { ++clears; }
    void setBusy(bool b) override { busyDepth += b ? 1 : -1; }
    void showOpening(const QString &name) override { opening = name; }
    void hideOpening() override { opening.clear(); }
    void leaveTopmost() override { }
    void repaintVideo() override { ++repaints; }
    QString chooseMediaFile(const QString &folder, const QStringList &) override
    {
        chooserFolder = folder;
        return chosenFile;
    }
    void showPlainMessage(const QString &t) override { messages << t; }
    void showOutputDialog() override
    {
        ++dialogs;
        if (onDialog)
            onDialog();
    }
};
