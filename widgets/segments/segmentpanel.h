#pragma once

#include "segmentlist.h"

#include <QWidget>

#include <functional>

class QGridLayout;
class QPushButton;
class QRadioButton;
class QTableWidget;

// What a cut of the segment list saves, as the panel's choices say.
struct SegmentChoice
{
    SegmentUse use = SegmentUse::Keep;
    bool oneFileEach = false;
};

// The segment list beside the range marks: its segments with start, end, length and label;
// "Add segment" takes the current marks; a selected segment is what the marks edit; Delete
// removes it; Up and Down reorder. The choices say whether a cut keeps the segments or removes
// them, and whether it saves one file or one file each. Every change of the list and of the
// marks can be undone (undo()/redo(); the window binds Ctrl+Z and Ctrl+Shift+Z).
//
// The panel owns the list; the window tells it the marks (setMarks) and follows marksChanged,
// which comes when selecting, undoing or redoing moves the marks.
class SegmentPanel : public QWidget
{
    Q_OBJECT

public:
    // Chooses a CSV file to read (save false) or write (save true); "" when cancelled.
    using ChooseFile = std::function<QString(QWidget *, bool save)>;

    // The width the window gives it beside the video.
    static constexpr int kPreferredWidth = 330;

    explicit SegmentPanel(QWidget *parent = nullptr);

    void setChooseFile(ChooseFile choose) { m_choose = std::move(choose); }
    // Forgets the list and its history (a new file), the marks starting at the given ones.
    void reset(double durationSeconds, double startMark = 0, double endMark = 0);

    const SegmentList &list() const { return m_list; }
    SegmentChoice choice() const;

    void setMarks(double startSeconds, double endSeconds);
    bool addSegment();
    bool removeSelected();
    void undo();
    void redo();
    bool importCsv(const QString &path, QString *error);
    bool exportCsv(const QString &path, QString *error) const;

Q_SIGNALS:
    // The list or its selection changed: redraw the bands.
    void segmentsChanged(const QList<Segment> &segments, int selected);
    // Selecting a segment, undo or redo moved the marks.
    void marksChanged(double startSeconds, double endSeconds);
    // A sentence for the user (an import that failed).
    void problem(const QString &message);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QTableWidget *buildTable();
    QGridLayout *buildButtons();
    QGridLayout *buildChoices();
    void connectButtons();
    // Shows the model's state; emits what changed compared with `before`.
    void refresh(const SegmentList::State &before);
    void onImport();
    void onExport();

    SegmentList m_list;
    double m_duration = 0;
    ChooseFile m_choose;
    bool m_refreshing = false;
    QTableWidget *m_table = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
    QPushButton *m_up = nullptr;
    QPushButton *m_down = nullptr;
    QPushButton *m_import = nullptr;
    QPushButton *m_export = nullptr;
    QRadioButton *m_keep = nullptr;
    QRadioButton *m_removeUse = nullptr;
    QRadioButton *m_oneFile = nullptr;
    QRadioButton *m_eachFile = nullptr;
};
