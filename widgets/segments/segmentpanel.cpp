#include "segmentpanel.h"

#include "timecode.h"

#include <QButtonGroup>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { StartColumn, EndColumn, LengthColumn, LabelColumn };

QTableWidgetItem *readOnlyItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

QPushButton *button(const QString &caption, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

SegmentPanel::SegmentPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("SegmentPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildTable(), 1);
    layout->addLayout(buildButtons());
    layout->addLayout(buildChoices());
    connectButtons();
    refresh(m_list.state());
}

QTableWidget *SegmentPanel::buildTable()
{
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("SegmentTable"));
    m_table->setHorizontalHeaderLabels({ QStringLiteral("Start"), QStringLiteral("End"),
                                         QStringLiteral("Length"), QStringLiteral("Label") });
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    // The times take what they need; the label gets the rest, so that every column is seen
    // in a narrow panel.
    QHeaderView *header = m_table->horizontalHeader();
    for (int column : { StartColumn, EndColumn, LengthColumn })
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(LabelColumn, QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    return m_table;
}

// Two rows of buttons: adding and removing, then the order and the files the list comes from
// or goes to.
QGridLayout *SegmentPanel::buildButtons()
{
    auto *buttons = new QGridLayout;
    m_add = button(QStringLiteral("Add segment"), QStringLiteral("btnAddSegment"), this);
    m_add->setToolTip(QStringLiteral("Add the marks as a segment (S)"));
    m_remove = button(QStringLiteral("Remove"), QStringLiteral("btnRemoveSegment"), this);
    m_remove->setToolTip(QStringLiteral("Remove the selected segment (Delete)"));
    m_up = button(QStringLiteral("Up"), QStringLiteral("btnSegmentUp"), this);
    m_down = button(QStringLiteral("Down"), QStringLiteral("btnSegmentDown"), this);
    m_import = button(QStringLiteral("Import..."), QStringLiteral("btnImportSegments"), this);
    m_export = button(QStringLiteral("Export..."), QStringLiteral("btnExportSegments"), this);
    buttons->addWidget(m_add, 0, 0, 1, 2);
    buttons->addWidget(m_remove, 0, 2, 1, 2);
    buttons->addWidget(m_up, 1, 0);
    buttons->addWidget(m_down, 1, 1);
    buttons->addWidget(m_import, 1, 2);
    buttons->addWidget(m_export, 1, 3);
    return buttons;
}

// What a cut takes from the list, and into how many files, one choice a row.
QGridLayout *SegmentPanel::buildChoices()
{
    auto *choices = new QGridLayout;
    m_keep = new QRadioButton(QStringLiteral("Keep the segments"), this);
    m_keep->setObjectName(QStringLiteral("optKeepSegments"));
    m_removeUse = new QRadioButton(QStringLiteral("Remove the segments"), this);
    m_removeUse->setObjectName(QStringLiteral("optRemoveSegments"));
    m_oneFile = new QRadioButton(QStringLiteral("One file"), this);
    m_oneFile->setObjectName(QStringLiteral("optOneFile"));
    m_eachFile = new QRadioButton(QStringLiteral("One file each"), this);
    m_eachFile->setObjectName(QStringLiteral("optOneFileEach"));
    auto *use = new QButtonGroup(this);
    use->addButton(m_keep);
    use->addButton(m_removeUse);
    auto *files = new QButtonGroup(this);
    files->addButton(m_oneFile);
    files->addButton(m_eachFile);
    m_keep->setChecked(true);
    m_oneFile->setChecked(true);
    choices->addWidget(m_keep, 0, 0);
    choices->addWidget(m_removeUse, 0, 1);
    choices->addWidget(m_oneFile, 1, 0);
    choices->addWidget(m_eachFile, 1, 1);
    return choices;
}

void SegmentPanel::connectButtons()
{
    connect(m_add, &QPushButton::clicked, this, &SegmentPanel::addSegment);
    connect(m_remove, &QPushButton::clicked, this, &SegmentPanel::removeSelected);
    connect(m_up, &QPushButton::clicked, this, [this] {
        const SegmentList::State before = m_list.state();
        m_list.move(m_list.selected(), m_list.selected() - 1);
        refresh(before);
    });
    connect(m_down, &QPushButton::clicked, this, [this] {
        const SegmentList::State before = m_list.state();
        m_list.move(m_list.selected(), m_list.selected() + 1);
        refresh(before);
    });
    connect(m_import, &QPushButton::clicked, this, &SegmentPanel::onImport);
    connect(m_export, &QPushButton::clicked, this, &SegmentPanel::onExport);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        if (m_refreshing)
            return;
        const QList<QTableWidgetItem *> items = m_table->selectedItems();
        const SegmentList::State before = m_list.state();
        m_list.select(items.isEmpty() ? -1 : items.first()->row());
        refresh(before);
    });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (m_refreshing || item->column() != LabelColumn)
            return;
        const SegmentList::State before = m_list.state();
        m_list.setLabel(item->row(), item->text().trimmed());
        refresh(before);
    });
}

void SegmentPanel::reset(double durationSeconds, double startMark, double endMark)
{
    const SegmentList::State before = m_list.state();
    m_list = SegmentList(startMark, endMark);
    m_duration = durationSeconds;
    refresh(before);
}

SegmentChoice SegmentPanel::choice() const
{
    return { m_removeUse->isChecked() ? SegmentUse::Remove : SegmentUse::Keep,
             m_eachFile->isChecked() };
}

void SegmentPanel::setMarks(double startSeconds, double endSeconds)
{
    const SegmentList::State before = m_list.state();
    m_list.setMarks(startSeconds, endSeconds);
    refresh(before);
}

bool SegmentPanel::addSegment()
{
    const SegmentList::State before = m_list.state();
    const bool added = m_list.addFromMarks();
    refresh(before);
    return added;
}

bool SegmentPanel::removeSelected()
{
    const SegmentList::State before = m_list.state();
    const bool removed = m_list.remove(m_list.selected());
    refresh(before);
    return removed;
}

void SegmentPanel::undo()
{
    const SegmentList::State before = m_list.state();
    m_list.undo();
    refresh(before);
}

void SegmentPanel::redo()
{
    const SegmentList::State before = m_list.state();
    m_list.redo();
    refresh(before);
}

bool SegmentPanel::importCsv(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const Result<QList<Segment>> read = SegmentsFromCsv(QString::fromUtf8(file.readAll()));
    if (!read) {
        *error = read.error().sentence;
        return false;
    }
    const QList<Segment> &segments = read.value();
    if (segments.isEmpty()) {
        *error = QStringLiteral("%1 holds no segment.").arg(path);
        return false;
    }
    const SegmentList::State before = m_list.state();
    m_list.replace(segments);
    refresh(before);
    return true;
}

bool SegmentPanel::exportCsv(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(SegmentsToCsv(m_list.segments()).toUtf8()) < 0 || !file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void SegmentPanel::onImport()
{
    const QString path = m_choose ? m_choose(this, false) : QString();
    QString error;
    if (!path.isEmpty() && !importCsv(path, &error))
        emit problem(error);
}

void SegmentPanel::onExport()
{
    const QString path = m_choose ? m_choose(this, true) : QString();
    QString error;
    if (!path.isEmpty() && !exportCsv(path, &error))
        emit problem(error);
}

void SegmentPanel::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete) {
        removeSelected();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SegmentPanel::refresh(const SegmentList::State &before)
{
    const SegmentList::State &now = m_list.state();
    m_refreshing = true;
    m_table->setRowCount(int(now.segments.size()));
    for (int row = 0; row < now.segments.size(); ++row) {
        const Segment &s = now.segments.at(row);
        m_table->setItem(row, StartColumn, readOnlyItem(FormatTimeCode(s.start)));
        m_table->setItem(row, EndColumn, readOnlyItem(FormatTimeCode(s.end)));
        m_table->setItem(row, LengthColumn, readOnlyItem(FormatTimeCode(s.length())));
        m_table->setItem(row, LabelColumn, new QTableWidgetItem(s.label));
    }
    if (now.selected >= 0)
        m_table->selectRow(now.selected);
    else
        m_table->clearSelection();
    m_refreshing = false;
    m_remove->setEnabled(now.selected >= 0);
    m_up->setEnabled(now.selected > 0);
    m_down->setEnabled(now.selected >= 0 && now.selected + 1 < now.segments.size());
    if (now.segments != before.segments || now.selected != before.selected)
        emit segmentsChanged(now.segments, now.selected);
    if (now.startMark != before.startMark || now.endMark != before.endMark)
        emit marksChanged(now.startMark, now.endMark);
}
