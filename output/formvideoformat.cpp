#include "formvideoformat.h"

#include "catalogue.h"
#include "messagesink.h"
#include "propertygrid.h"
#include "settings.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int kTwips = 15;
constexpr int kLeftWidth = OutputSettingsModel::NarrowWidthTwips / kTwips; // 487
constexpr int kFullWidth = OutputSettingsModel::WideWidthTwips / kTwips; // 818

} // namespace

FormVideoFormat::FormVideoFormat(FormVideoFormatParts parts, QWidget *parent)
    : QDialog(parent)
    , m_parts(std::move(parts))
{
    setObjectName(QStringLiteral("FormVideoFormat"));
    setWindowTitle(QStringLiteral("Output Settings"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    buildControls();
    buildFormatMenu();
    // The dialog's load: the model sets its initial state; the widgets follow every change.
    connect(&m_model, &OutputSettingsModel::changed, this, &FormVideoFormat::refresh);
    m_model.load(m_parts.shared ? m_parts.shared->Job.output.folder : QString());
    // The "Exact cut" box lives in the settings store beside "OutPath": read when the dialog
    // is made, written whenever it changes.
    const bool exact = ReadSetting(QStringLiteral("ExactCut")) != QLatin1String("No");
    m_model.setExactCut(exact);
    if (m_parts.shared)
        m_parts.shared->ExactCut = exact;
    // The format and the choice between copy and conversion of the last cut OK accepted, in
    // the order a user would make them; an id the catalogue does not know is passed over.
    bool known = false;
    const int id = ReadSetting(QStringLiteral("OutputFormat")).toInt(&known);
    if (const CatalogueEntry *entry = known ? Catalogue::findById(id) : nullptr)
        m_model.SelectCatalogueEntry(entry->Id, entry->caption());
    if (ReadSetting(QStringLiteral("OutputMode")) == QLatin1String("Copy"))
        m_model.option1Click();
    refresh();
}

FormVideoFormat::~FormVideoFormat() = default;

void FormVideoFormat::buildControls()
{
    auto *left = new QWidget(this);
    m_leftPanel = left;
    left->setObjectName(QStringLiteral("LeftPanel"));
    left->setGeometry(0, 0, kLeftWidth, 400);
    auto *column = new QVBoxLayout(left);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(8);

    m_copyOption
        = new QRadioButton(QStringLiteral("Keep original format (Direct stream copy)"), left);
    m_copyOption->setObjectName(QStringLiteral("Option1"));
    m_convertOption = new QRadioButton(QStringLiteral("Convert to another format"), left);
    m_convertOption->setObjectName(QStringLiteral("Option2"));
    m_checkExactCut = new QCheckBox(
        QStringLiteral("Exact cut (re-encodes only the frames before the first key frame)"), left);
    m_checkExactCut->setObjectName(QStringLiteral("CheckExactCut"));
    m_labelCopyStart = new QLabel(left);
    m_labelCopyStart->setObjectName(QStringLiteral("LabelCopyStart"));
    m_labelCopyStart->setWordWrap(true);
    m_labelCopyStart->setVisible(false);
    auto *exact = new QVBoxLayout;
    exact->setContentsMargins(22, 0, 0, 0);
    exact->addWidget(m_checkExactCut);
    exact->addWidget(m_labelCopyStart);
    column->addWidget(m_copyOption);
    column->addLayout(exact);
    column->addWidget(m_convertOption);
    buildFormatFrame(column);
    buildTracksGroup(column);
    buildNamingAndButtons(column);

    m_grid = new PropertyGrid(m_model.grid(), this);
    m_grid->setGeometry(kLeftWidth, 12, kFullWidth - kLeftWidth - 12, 376);

    // The tab order of the design.
    QWidget *order[]
        = { m_copyOption,   m_checkExactCut, m_convertOption, m_comboFormat, m_comboSize,
            m_textW,        m_textH,         m_comboVideoQ,   m_comboAudioQ, m_btnMore,
            m_textFileName, m_textFolder,    m_btnBrowse,     m_btnOK,       m_btnCancel };
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    fitHeight();
    connectControls();
}

// The group of format, size and qualities with the More button, added to the left column.
void FormVideoFormat::buildFormatFrame(QVBoxLayout *column)
{
    m_formatGroup = new QGroupBox(m_leftPanel);
    m_formatGroup->setObjectName(QStringLiteral("Frame1"));
    auto *frame = new QGridLayout(m_formatGroup);
    frame->setHorizontalSpacing(8);
    frame->setVerticalSpacing(8);
    m_comboFormat = new FormatCombo(m_formatGroup);
    m_comboFormat->setObjectName(QStringLiteral("ComboFormat"));
    m_comboSize = new QComboBox(m_formatGroup);
    m_comboSize->setObjectName(QStringLiteral("ComboSize"));
    m_comboSize->addItems(OutputSettingsModel::sizeItems());
    m_comboSize->setMaxVisibleItems(16);
    m_textW = new QLineEdit(m_formatGroup);
    m_textW->setObjectName(QStringLiteral("TextW"));
    m_textH = new QLineEdit(m_formatGroup);
    m_textH->setObjectName(QStringLiteral("TextH"));
    m_comboVideoQ = new QComboBox(m_formatGroup);
    m_comboVideoQ->setObjectName(QStringLiteral("ComboVideoQ"));
    m_comboVideoQ->addItems(OutputSettingsModel::qualityItems());
    m_comboAudioQ = new QComboBox(m_formatGroup);
    m_comboAudioQ->setObjectName(QStringLiteral("ComboAudioQ"));
    m_comboAudioQ->addItems(OutputSettingsModel::qualityItems());
    m_btnMore = new QPushButton(m_formatGroup);
    m_btnMore->setObjectName(QStringLiteral("btnMore"));

    auto label = [this](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, m_formatGroup);
        l->setBuddy(buddy);
        return l;
    };
    frame->addWidget(label(QStringLiteral("Output Format:"), m_comboFormat), 0, 0);
    frame->addWidget(m_comboFormat, 0, 1, 1, 4);
    frame->addWidget(label(QStringLiteral("Video Size:"), m_comboSize), 1, 0);
    frame->addWidget(m_comboSize, 1, 1, 1, 4);
    frame->addWidget(label(QStringLiteral("Width:"), m_textW), 2, 0);
    frame->addWidget(m_textW, 2, 1);
    frame->addWidget(label(QStringLiteral("Height:"), m_textH), 2, 2, Qt::AlignRight);
    frame->addWidget(m_textH, 2, 3);
    frame->addWidget(label(QStringLiteral("Video Quality:"), m_comboVideoQ), 3, 0);
    frame->addWidget(m_comboVideoQ, 3, 1, 1, 4);
    frame->addWidget(label(QStringLiteral("Audio Quality:"), m_comboAudioQ), 4, 0);
    frame->addWidget(m_comboAudioQ, 4, 1, 1, 4);
    frame->addWidget(m_btnMore, 5, 3, 1, 2, Qt::AlignRight);
    frame->setColumnStretch(1, 1);
    frame->setColumnStretch(3, 1);
    frame->setColumnMinimumWidth(4, 0);
    column->addWidget(m_formatGroup);
}

void FormVideoFormat::buildTracksGroup(QVBoxLayout *column)
{
    m_tracksGroup = new QGroupBox(QStringLiteral("Tracks"), m_leftPanel);
    m_tracksGroup->setObjectName(QStringLiteral("GroupTracks"));
    auto *grid = new QGridLayout(m_tracksGroup);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    m_tracksGroup->setVisible(false);
    column->addWidget(m_tracksGroup);
}

void FormVideoFormat::loadTracks()
{
    const QString path = m_parts.shared ? m_parts.shared->InputFilePath : QString();
    if (path == m_tracksPath && !m_trackBoxes.isEmpty())
        return; // the same file: the boxes keep what the user chose for it
    m_tracksPath = path;
    qDeleteAll(m_trackBoxes);
    m_trackBoxes.clear();
    m_tracksEdited = false;
    m_streams = m_parts.sourceStreams && !path.isEmpty() ? m_parts.sourceStreams()
                                                         : QList<SourceStream>();
    const bool offered = OffersTrackChoice(m_streams);
    auto *grid = static_cast<QGridLayout *>(m_tracksGroup->layout());
    QWidget *previous = m_btnMore;
    for (qsizetype k = 0; offered && k < m_streams.size(); ++k) {
        const SourceStream &s = m_streams.at(k);
        auto *box = new QCheckBox(
            QStringLiteral("%1: %2").arg(QString::number(s.index), DescribeStream(s)),
            m_tracksGroup);
        box->setObjectName(QStringLiteral("Track%1").arg(s.index));
        // Two columns keep the group short; a long title is cut in the box and shown whole
        // in its tip.
        box->setToolTip(box->text());
        box->setMaximumWidth((kLeftWidth - 60) / 2);
        grid->addWidget(box, int(k / 2), int(k % 2));
        connect(box, &QCheckBox::toggled, this, [this] {
            if (m_refreshing)
                return;
            m_tracksEdited = true;
            refreshNote(); // the tracks decide what the job has to say
        });
        setTabOrder(previous, box);
        previous = box;
        m_trackBoxes << box;
    }
    setTabOrder(previous, m_textFileName);
    m_tracksGroup->setVisible(offered);
    refreshTracks();
    fitHeight();
}

void FormVideoFormat::refreshTracks()
{
    if (m_tracksEdited)
        return;
    const QList<int> chosen = defaultTracks();
    const bool was = m_refreshing;
    m_refreshing = true;
    for (qsizetype k = 0; k < m_trackBoxes.size(); ++k)
        m_trackBoxes.at(k)->setChecked(chosen.contains(m_streams.at(k).index));
    m_refreshing = was;
}

QList<int> FormVideoFormat::checkedTracks() const
{
    QList<int> chosen;
    for (qsizetype k = 0; k < m_trackBoxes.size(); ++k) {
        if (m_trackBoxes.at(k)->isChecked())
            chosen << m_streams.at(k).index;
    }
    return chosen;
}

QList<int> FormVideoFormat::defaultTracks() const
{
    // ffmpeg keeps a subtitle stream by itself only in the containers made for them.
    if (!m_model.directCopySelected())
        return ConvertDefaultChoice(m_streams,
                                    m_model.formatKey() == QLatin1String("mkv")
                                        || m_model.formatKey() == QLatin1String("webm"));
    QList<int> all;
    for (const SourceStream &s : m_streams)
        all << s.index;
    return all;
}

QList<int> FormVideoFormat::jobStreams() const
{
    if (m_trackBoxes.isEmpty())
        return {};
    const QList<int> chosen = checkedTracks();
    return chosen == defaultTracks() ? QList<int>() : chosen;
}

// The file name and destination rows and the OK and Cancel buttons, added to the left column
// under the format group.
void FormVideoFormat::buildNamingAndButtons(QVBoxLayout *column)
{
    QWidget *left = m_leftPanel;
    auto *naming = new QGridLayout;
    naming->setHorizontalSpacing(8);
    m_textFileName = new QLineEdit(left);
    m_textFileName->setObjectName(QStringLiteral("TextFileName"));
    m_textFolder = new QLineEdit(left);
    m_textFolder->setObjectName(QStringLiteral("TextFolder"));
    m_btnBrowse = new QPushButton(QStringLiteral("Browse..."), left);
    m_btnBrowse->setObjectName(QStringLiteral("BtnBrowse"));
    auto *nameLabel = new QLabel(QStringLiteral("File Name:"), left);
    nameLabel->setBuddy(m_textFileName);
    auto *folderLabel = new QLabel(QStringLiteral("Destination:"), left);
    folderLabel->setBuddy(m_textFolder);
    naming->addWidget(nameLabel, 0, 0);
    naming->addWidget(m_textFileName, 0, 1, 1, 2);
    naming->addWidget(folderLabel, 1, 0);
    naming->addWidget(m_textFolder, 1, 1);
    naming->addWidget(m_btnBrowse, 1, 2);
    column->addLayout(naming);
    column->addStretch(1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_btnOK = new QPushButton(QStringLiteral("OK"), left);
    m_btnOK->setObjectName(QStringLiteral("BtnOK"));
    m_btnOK->setDefault(true);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), left);
    m_btnCancel->setObjectName(QStringLiteral("BtnCancel"));
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);
    column->addLayout(buttons);
}

// Widgets edit the model; the model's change notification brings the widgets up to date.
void FormVideoFormat::connectControls()
{
    connect(m_copyOption, &QRadioButton::clicked, &m_model, &OutputSettingsModel::option1Click);
    connect(m_convertOption, &QRadioButton::clicked, &m_model, &OutputSettingsModel::option2Click);
    connect(m_checkExactCut, &QCheckBox::toggled, this, [this](bool on) {
        if (m_refreshing)
            return;
        if (m_parts.shared)
            m_parts.shared->ExactCut = on;
        WriteSetting(QStringLiteral("ExactCut"), on ? QStringLiteral("Yes") : QStringLiteral("No"));
        m_model.setExactCut(on);
    });
    connect(m_comboFormat, &FormatCombo::popupRequested, this, &FormVideoFormat::ShowFormatMenu);
    connect(m_comboSize, &QComboBox::activated, &m_model, &OutputSettingsModel::selectSize);
    connect(m_comboVideoQ, &QComboBox::activated, &m_model,
            &OutputSettingsModel::selectVideoQuality);
    connect(m_comboAudioQ, &QComboBox::activated, &m_model,
            &OutputSettingsModel::selectAudioQuality);
    connect(m_btnMore, &QPushButton::clicked, &m_model, &OutputSettingsModel::moreClick);
    connect(m_textW, &QLineEdit::textEdited, &m_model, &OutputSettingsModel::setWidthText);
    connect(m_textH, &QLineEdit::textEdited, &m_model, &OutputSettingsModel::setHeightText);
    connect(m_textFileName, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_refreshing)
            m_model.setFileName(text);
    });
    connect(m_textFolder, &QLineEdit::textEdited, &m_model, &OutputSettingsModel::setFolder);
    connect(m_btnBrowse, &QPushButton::clicked, this, &FormVideoFormat::browseFolder);
    connect(m_btnOK, &QPushButton::clicked, this, &FormVideoFormat::ok);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::hide);
    for (QLineEdit *edit : { m_textW, m_textH, m_textFileName })
        edit->installEventFilter(this);
}

void FormVideoFormat::buildFormatMenu()
{
    m_formatMenu = new QMenu(this);
    m_formatMenu->setObjectName(QStringLiteral("FormatMenu"));
    QHash<int, QMenu *> menus;
    for (const CatalogueSubmenu &sub : Catalogue::submenus()) {
        QMenu *parent = sub.ParentId ? menus.value(sub.ParentId) : m_formatMenu;
        QMenu *menu = parent->addMenu(QString::fromUtf8(sub.Caption));
        menu->menuAction()->setData(-sub.Id); // submenus are never dispatched
        menus.insert(sub.Id, menu);
    }
    for (const CatalogueEntry &entry : Catalogue::entries()) {
        QAction *action = menus.value(entry.SubmenuId)->addAction(entry.caption());
        action->setData(entry.Id);
        action->setObjectName(QString::fromLatin1(entry.Symbol));
    }
    connect(m_formatMenu, &QMenu::triggered, this, [this](QAction *action) {
        const int id = action->data().toInt();
        if (id > 0)
            m_model.SelectCatalogueEntry(id, action->text());
    });
}

void FormVideoFormat::ShowFormatMenu()
{
    // Top-left corner of the menu at the combo's bottom-left corner.
    m_formatMenu->exec(m_comboFormat->mapToGlobal(QPoint(0, m_comboFormat->height())));
}

void FormVideoFormat::refresh()
{
    m_refreshing = true;
    m_copyOption->setChecked(m_model.option() == OutputSettingsModel::Option::DirectCopy);
    m_convertOption->setChecked(m_model.option() == OutputSettingsModel::Option::Convert);
    m_checkExactCut->setChecked(m_model.exactCut());
    m_checkExactCut->setEnabled(m_model.directCopySelected());
    if (m_comboFormat->count() != 1 || m_comboFormat->itemText(0) != m_model.formatCaption()) {
        m_comboFormat->clear();
        m_comboFormat->addItem(m_model.formatCaption());
        m_comboFormat->setCurrentIndex(0);
    }
    m_comboSize->setCurrentIndex(m_model.sizeIndex());
    if (m_textW->text() != m_model.widthText())
        m_textW->setText(m_model.widthText());
    if (m_textH->text() != m_model.heightText())
        m_textH->setText(m_model.heightText());
    m_comboVideoQ->setCurrentIndex(m_model.videoQuality());
    m_comboAudioQ->setCurrentIndex(m_model.audioQuality());
    m_btnMore->setText(m_model.moreCaption());
    if (m_textFileName->text() != m_model.fileName()) {
        const int cursor = m_textFileName->cursorPosition();
        m_textFileName->setText(m_model.fileName());
        m_textFileName->setCursorPosition(std::min<int>(cursor, m_model.fileName().size()));
    }
    if (m_textFolder->text() != m_model.folder())
        m_textFolder->setText(m_model.folder());
    refreshEnabled();
    refreshTracks();
    refreshNote();
    takeFocusRequest();
    m_refreshing = false;
}

void FormVideoFormat::refreshNote()
{
    const QString note = jobNote();
    if (m_labelCopyStart->text() != note || m_labelCopyStart->isHidden() != note.isEmpty()) {
        m_labelCopyStart->setText(note);
        m_labelCopyStart->setVisible(!note.isEmpty());
        fitHeight(); // the line takes room under the option; nothing else gives it up
    }
}

QString FormVideoFormat::jobNote()
{
    if (m_model.directCopySelected())
        return copyStartNote();
    const QList<int> streams = jobStreams();
    if (streams.isEmpty() || !m_parts.trackNotes || !m_parts.shared)
        return QString();
    // The job as OK would build it, without checking the boxes or keeping what it works out.
    BuilderMemory memory = m_memory;
    BuildInputs in;
    in.InputFilePath = m_parts.shared->InputFilePath;
    in.SourceWidth = m_parts.shared->SourceWidth;
    in.SourceHeight = m_parts.shared->SourceHeight;
    in.SourceHasVideo = m_parts.shared->SourceHasVideo;
    in.SourceBitrateKbps = m_parts.shared->SourceBitrateKbps;
    const EncoderJob built = BuildEncoderArguments(m_model, in, memory);
    CutJob job;
    job.source.path = in.InputFilePath;
    job.mode = CutModeOf(built.DirectCopyMode, built.ExactCopyMode);
    job.encode = EncodeSpec { built.EncoderArguments, built.Device };
    job.output = CutOutput { m_model.folder(), m_model.fileName(), built.OutputExtension };
    job.streams = streams;
    QStringList sentences;
    for (const QString &note : m_parts.trackNotes(job, m_streams))
        sentences << note.left(1).toUpper() + note.mid(1) + QLatin1Char('.');
    return sentences.join(QLatin1Char(' '));
}

// The enabled states, the advanced panel and the dialog's width as the model has them.
void FormVideoFormat::refreshEnabled()
{
    const OutputSettingsModel::Enabled &e = m_model.enabled();
    m_formatGroup->setEnabled(e.frame);
    m_comboFormat->setEnabled(e.format);
    m_comboSize->setEnabled(e.size);
    m_textW->setEnabled(e.width);
    m_textH->setEnabled(e.height);
    m_comboVideoQ->setEnabled(e.videoQuality);
    m_comboAudioQ->setEnabled(e.audioQuality);
    m_btnMore->setEnabled(e.more);
    m_grid->setVisible(m_model.advancedPanelShown());
    setFixedWidth(m_model.dialogWidthTwips() / kTwips);
}

// The box the model asked the keyboard focus for, if any, gets it.
void FormVideoFormat::takeFocusRequest()
{
    switch (m_model.takeFocusRequest()) {
    case OutputSettingsModel::Box::Width:
        m_textW->setFocus();
        break;
    case OutputSettingsModel::Box::Height:
        m_textH->setFocus();
        break;
    case OutputSettingsModel::Box::FileName:
        m_textFileName->setFocus();
        break;
    case OutputSettingsModel::Box::Folder:
        m_textFolder->setFocus();
        break;
    case OutputSettingsModel::Box::None:
        break;
    }
}

void FormVideoFormat::fitHeight()
{
    // Nested layouts keep their sizes until told: a line shown or hidden changes them.
    const auto invalidate = [](QLayout *layout, const auto &self) -> void {
        layout->invalidate();
        for (int i = 0; i < layout->count(); ++i) {
            if (QLayout *inner = layout->itemAt(i)->layout())
                self(inner, self);
        }
    };
    QLayout *column = m_leftPanel->layout();
    invalidate(column, invalidate);
    const int needed = column->hasHeightForWidth() ? column->totalHeightForWidth(kLeftWidth)
                                                   : column->totalSizeHint().height();
    const int height = std::max(400, needed);
    m_leftPanel->resize(kLeftWidth, height);
    m_grid->resize(m_grid->width(), height - 24);
    setFixedHeight(height);
}

bool FormVideoFormat::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            const QChar c = text.at(0);
            const bool sizeBox = watched == m_textW || watched == m_textH;
            if (sizeBox && !OutputSettingsModel::sizeKeyAccepted(c))
                return true; // discarded before it reaches the box
            if (watched == m_textFileName && !OutputSettingsModel::nameKeyAccepted(c))
                return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        if (watched == m_textW) {
            m_model.setWidthText(m_textW->text());
            m_model.ValidateSizeBox(OutputSettingsModel::Box::Width);
        } else if (watched == m_textH) {
            m_model.setHeightText(m_textH->text());
            m_model.ValidateSizeBox(OutputSettingsModel::Box::Height);
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString FormVideoFormat::copyStartNote()
{
    // Asked once per cut and box state: finding the key frame reads the file.
    const int state = m_model.exactCut() ? 1 : 0;
    const QList<int> streams = jobStreams();
    if (!m_copyStartKnown[state] || m_copyStartStreams[state] != streams) {
        m_copyStartNote[state] = m_parts.copyStartNote
            ? m_parts.copyStartNote(joinedRanges(), m_model.exactCut(), streams)
            : QString();
        m_copyStartKnown[state] = true;
        m_copyStartStreams[state] = streams;
    }
    return m_copyStartNote[state];
}

QList<CutSpan> FormVideoFormat::joinedRanges() const
{
    if (!m_parts.shared)
        return {};
    const SharedValues &shared = *m_parts.shared;
    if (shared.Segments.size() > 1 && !shared.OneFileEach) {
        QList<CutSpan> ranges;
        for (const Segment &s : std::as_const(shared.Segments))
            ranges << CutSpan { s.start, s.end, s.label };
        return ranges;
    }
    return { CutSpan { shared.CutStartSeconds, shared.CutStartSeconds + shared.CutLengthSeconds,
                       QString() } };
}

int FormVideoFormat::showForCut()
{
    m_copyStartKnown[0] = m_copyStartKnown[1] = false;
    loadTracks();
    refresh();
    if (m_parts.shared) {
        // No folder accepted yet (a first cut): the source's own folder is offered, and offered
        // anew for the next source as long as the box holds the one offered before. What is
        // stored changes only when OK accepts a folder.
        const QString offered
            = AbsoluteFolder(QFileInfo(m_parts.shared->InputFilePath).absolutePath());
        if (m_parts.shared->Job.output.folder.isEmpty() && !m_parts.shared->InputFilePath.isEmpty()
            && (m_model.folder().trimmed().isEmpty() || m_model.folder() == m_offeredFolder)) {
            m_offeredFolder = offered;
            m_model.setFolder(offered);
        }
        m_model.setDefaultName(m_parts.shared->InputFilePath);
        // Crop margins are checked against this file's picture.
        m_model.grid().setPictureSize(
            m_parts.shared->SourceHasVideo ? m_parts.shared->SourceWidth : 0,
            m_parts.shared->SourceHasVideo ? m_parts.shared->SourceHeight : 0);
    }
    return exec();
}

void FormVideoFormat::browseFolder()
{
    QString folder;
    const QString start
        = m_model.chooserFolder(m_parts.shared ? m_parts.shared->InputFilePath : QString());
    if (m_parts.chooseFolder)
        folder = m_parts.chooseFolder(this, start);
    else
        folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Choose the destination folder"), start);
    if (!folder.isEmpty())
        m_model.setFolder(folder); // the separator is added by OK's check
}

bool FormVideoFormat::acceptName()
{
    OutputSettingsModel::NameCheck check = m_model.checkOutputName();
    if (!check.ok && !check.missingFolder.isEmpty() && m_parts.messages) {
        // A folder that is not there yet is made when the user wants it; a "no" leaves the
        // box for another try.
        const QString folder = QDir::toNativeSeparators(check.missingFolder);
        if (m_parts.messages->askYesNo(
                this, QStringLiteral("Snipora"),
                QStringLiteral("The folder %1 does not exist. Do you want to create it?")
                    .arg(folder))
            != MessageSink::Answer::Yes) {
            refresh();
            return false;
        }
        if (QDir().mkpath(check.missingFolder)) {
            check = m_model.checkOutputName();
        } else {
            m_parts.messages->showMessage(
                this, MessageSink::Icon::Error, QStringLiteral("Error"),
                QStringLiteral("The folder %1 could not be created; choose another one.")
                    .arg(folder));
            refresh();
            browseFolder();
            return false;
        }
    }
    if (!check.ok) {
        if (m_parts.messages)
            m_parts.messages->showMessage(this, MessageSink::Icon::Error, QStringLiteral("Error"),
                                          check.message);
        refresh();
        if (check.openFolderChooser)
            browseFolder();
        return false;
    }
    return true;
}

void FormVideoFormat::rememberChoices()
{
    // Accepted: the folder is the default of the next start from now on, whatever happens to
    // the program before it ends; so are the choice of copy or conversion and the format.
    WriteSetting(QStringLiteral("OutPath"), m_model.folder());
    WriteSetting(QStringLiteral("OutputMode"),
                 m_model.directCopySelected() ? QStringLiteral("Copy") : QStringLiteral("Convert"));
    WriteSetting(QStringLiteral("OutputFormat"), QString::number(m_model.entryId()));
}

CutJob FormVideoFormat::buildJob(const QList<CutSpan> &ranges)
{
    const SharedValues &shared = *m_parts.shared;
    // Sizes the user never left the box of are checked as leaving it would.
    if (m_model.sizeIndex() > 0 && !m_model.audioOnlyFormat()) {
        m_model.ValidateSizeBox(OutputSettingsModel::Box::Width);
        m_model.ValidateSizeBox(OutputSettingsModel::Box::Height);
    }
    CutJob job;
    job.source.path = shared.InputFilePath;
    job.source.width = shared.SourceWidth;
    job.source.height = shared.SourceHeight;
    job.source.hasVideo = shared.SourceHasVideo;
    job.source.bitrateKbps = shared.SourceBitrateKbps;
    job.source.channelCount = m_parts.audioChannelCount ? m_parts.audioChannelCount() : 0;
    job.ranges = ranges;
    BuildInputs in;
    in.InputFilePath = job.source.path;
    in.SourceWidth = job.source.width;
    in.SourceHeight = job.source.height;
    in.SourceHasVideo = job.source.hasVideo;
    in.SourceBitrateKbps = job.source.bitrateKbps;
    in.CutStartSeconds = ranges.constFirst().startSeconds;
    in.CutLengthSeconds = ranges.constFirst().lengthSeconds();
    in.AudioChannelCount = job.source.channelCount;
    const EncoderJob built = BuildEncoderArguments(m_model, in, m_memory);
    job.mode = CutModeOf(built.DirectCopyMode, built.ExactCopyMode);
    job.encode = EncodeSpec { built.EncoderArguments, built.Device };
    job.output = CutOutput { m_model.folder(), m_model.fileName(), built.OutputExtension };
    job.streams = jobStreams();
    return job;
}

bool AgreeToTarget(CutJob &job, MessageSink *messages, QWidget *parent)
{
    // Writing over the source would destroy it; replacing another file needs a yes.
    const QString path = job.outputPath();
    const QFileInfo out(path);
    if (out.exists() && job.outputIsInput()) {
        if (messages)
            messages->showMessage(
                parent, MessageSink::Icon::Error, QStringLiteral("Error"),
                QStringLiteral("%1 is the file you opened. Saving the cut there would destroy "
                               "it; choose another name or folder.")
                    .arg(path));
        return false;
    }
    if (out.exists() && messages
        && messages->askYesNo(
               parent, QStringLiteral("Snipora"),
               QStringLiteral("%1 already exists. Do you want to replace it?").arg(path))
            != MessageSink::Answer::Yes)
        return false;
    // Only this yes lets the run replace a file; one that appears later is never replaced.
    job.replaceAllowed = out.exists() && messages;
    return true;
}

bool FormVideoFormat::agreeToTarget(CutJob &job)
{
    return AgreeToTarget(job, m_parts.messages, this);
}

bool FormVideoFormat::ok()
{
    if (!m_parts.shared)
        return false;
    SharedValues &shared = *m_parts.shared;
    if (!acceptName())
        return false;
    if (!m_trackBoxes.isEmpty()) {
        const QList<int> chosen = checkedTracks();
        if (std::none_of(chosen.cbegin(), chosen.cend(), [this](int index) {
                const SourceStream *s = FindStream(m_streams, index);
                return s->kind == SourceStream::Kind::Video || s->kind == SourceStream::Kind::Audio;
            })) {
            if (m_parts.messages)
                m_parts.messages->showMessage(this, MessageSink::Icon::Error,
                                              QStringLiteral("Error"),
                                              QStringLiteral("Choose a video or an audio track: "
                                                             "the tracks ticked hold neither."));
            return false;
        }
    }
    rememberChoices();
    QList<CutSpan> ranges { CutSpan {
        shared.CutStartSeconds, shared.CutStartSeconds + shared.CutLengthSeconds, QString() } };
    if (!shared.Segments.isEmpty()) {
        ranges.clear();
        for (const Segment &s : std::as_const(shared.Segments))
            ranges << CutSpan { s.start, s.end, s.label };
    }
    shared.Job = buildJob(ranges);
    // One file per segment: a job each, named by the segment's label or NAME-k; the window
    // agrees to each file's name before the first is saved.
    shared.EachJobs.clear();
    const bool eachFile = shared.OneFileEach && shared.Segments.size() > 1;
    if (eachFile) {
        QStringList labels;
        for (const Segment &s : std::as_const(shared.Segments))
            labels << s.label;
        const QStringList names
            = OutputSettingsModel::eachFileNames(shared.Job.output.name, labels);
        for (qsizetype k = 0; k < ranges.size(); ++k) {
            shared.EachJobs << buildJob({ ranges.at(k) });
            shared.EachJobs.last().output.name = names.at(k);
        }
    } else if (!agreeToTarget(shared.Job)) {
        return false;
    }
    hide();
    shared.StopRequested = false;
    if (m_parts.startConversion)
        m_parts.startConversion();
    return true;
}

void FormVideoFormat::closeEvent(QCloseEvent *event)
{
    // The close box hides the dialog and keeps its state; only the program ends it.
    if (!m_closeForGood) {
        event->ignore();
        hide();
        return;
    }
    QDialog::closeEvent(event);
}
