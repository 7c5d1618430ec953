#include "outputmodel.h"

#include "catalogue.h"
#include "timecode.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

using Setting = AdvancedSettings::Setting;

// Integer text of a leading number, as plain digits (the boxes hold sizes).
QString integerText(double v)
{
    if (!std::isfinite(v))
        return QStringLiteral("0");
    return QString::number(qlonglong(std::fabs(v)));
}

} // namespace

OutputSettingsModel::OutputSettingsModel(QObject *parent)
    : QObject(parent)
{
    connect(&m_grid, &AdvancedSettings::changed, this, &OutputSettingsModel::changed);
}

const QStringList &OutputSettingsModel::sizeItems()
{
    static const QStringList items { "Auto",
                                     "128 x 96 (sqcif)",
                                     "176 x 144 (qcif)",
                                     "320 x 240 (qvga)",
                                     "352 x 240",
                                     "352 x 288 (cif)",
                                     "480 x 320",
                                     "640 x 480 (vga)",
                                     "720 x 480 (NTSC)",
                                     "704 x 576 (4cif)",
                                     "720 x 576 (PAL)",
                                     "800 x 600",
                                     "1024 x 576",
                                     "1280 x 720",
                                     "1920 x 1080",
                                     "Custom..." };
    return items;
}

const QStringList &OutputSettingsModel::qualityItems()
{
    static const QStringList items { "High (larger file size)", "Normal",
                                     "Low (smaller file size)" };
    return items;
}

QString OutputSettingsModel::forbiddenNameCharacters()
{
    return QStringLiteral("*/:?<>|\\@\"");
}

QStringList OutputSettingsModel::eachFileNames(const QString &base, const QStringList &labels)
{
    QStringList names;
    for (qsizetype k = 0; k < labels.size(); ++k) {
        QString name = withoutForbidden(labels.at(k)).trimmed();
        // "." and ".." name folders, and a repeated label would make the later file replace
        // the earlier one of the same run.
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
            || names.contains(name, Qt::CaseInsensitive))
            name = QStringLiteral("%1-%2").arg(base).arg(k + 1);
        while (names.contains(name, Qt::CaseInsensitive))
            name += QStringLiteral("-%1").arg(k + 1);
        names << name;
    }
    return names;
}

double OutputSettingsModel::leadingNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([+-]?(\\d+\\.?\\d*|\\.\\d+))"));
    const auto m = pattern.match(text);
    return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
}

void OutputSettingsModel::load(const QString &outputFolder)
{
    m_grid.build();
    m_formatKey = QStringLiteral("mp4h264");
    m_grid.setValue(Setting::FilenameExtension, QStringLiteral("mp4"));
    m_formatCaption = Catalogue::findById(Catalogue::DefaultEntryId)->caption();
    m_entryId = Catalogue::DefaultEntryId;
    selectSize(0);
    m_enabled.width = false;
    m_enabled.height = false;
    selectVideoQuality(1);
    selectAudioQuality(1);
    m_folder = outputFolder;
    m_advancedPanelShown = true;
    moreClick();
    // Neither option is stored as selected; conversion is what OK does then, so show it.
    m_option = Option::Convert;
    option2Click();
    Q_EMIT changed();
}

void OutputSettingsModel::SelectCatalogueEntry(int id, const QString &caption)
{
    m_formatCaption = caption;
    m_audioOnly = false;
    const CatalogueEntry *entry = Catalogue::findById(id);
    if (entry) {
        m_entryId = id;
        m_formatKey = entry->formatKey();
        if (entry->AudioOnly)
            m_audioOnly = true;
    }
    ResetPresets();
    if (entry && entry->hasSize()) {
        selectSize(CustomSizeIndex);
        m_textW = QString::fromLatin1(entry->Width);
        m_textH = QString::fromLatin1(entry->Height);
    }
    if (entry && entry->FrameRate)
        m_grid.setValue(Setting::FrameRate, QString::fromLatin1(entry->FrameRate));
    if (entry && entry->AudioBitrate)
        m_grid.setValue(Setting::AudioBitrate, QString::fromLatin1(entry->AudioBitrate));
    if (entry && entry->Channels)
        m_grid.setValue(Setting::Channels, QString::fromLatin1(entry->Channels));
    m_grid.setValue(Setting::FilenameExtension, ExtensionForKey(m_formatKey));
    Q_EMIT changed();
}

DeviceLimits OutputSettingsModel::deviceLimits() const
{
    const CatalogueEntry *entry = Catalogue::findById(m_entryId);
    return entry ? Catalogue::deviceLimits(*entry) : DeviceLimits();
}

void OutputSettingsModel::ResetPresets()
{
    selectSize(0);
    selectVideoQuality(1);
    selectAudioQuality(1);
    for (const Setting key : { Setting::VideoBitrate, Setting::FrameRate, Setting::AspectRate,
                               Setting::AudioBitrate, Setting::SampleRate, Setting::Channels })
        m_grid.setValue(key, QStringLiteral("Auto"));
    m_grid.setHidden(Setting::RemoveAudio, false);
    m_grid.setChecked(Setting::RemoveAudio, false);
    for (const Setting key : { Setting::AudioBitrate, Setting::SampleRate, Setting::Channels })
        m_grid.setHidden(key, false);
    m_grid.setCategoryHidden(AdvancedSettings::Category::Video, false);
    m_enabled.size = true;
    m_enabled.width = true;
    m_enabled.height = true;
    m_enabled.videoQuality = true;
    if (m_audioOnly)
        restrictForAudioOnly();
    Q_EMIT changed();
}

void OutputSettingsModel::restrictForAudioOnly()
{
    m_grid.setCategoryHidden(AdvancedSettings::Category::Video, true);
    m_grid.setHidden(Setting::RemoveAudio, true);
    m_enabled.size = false;
    m_enabled.width = false;
    m_enabled.height = false;
    m_enabled.videoQuality = false;
}

void OutputSettingsModel::selectSize(int index)
{
    if (index < 0 || index >= sizeItems().size())
        return;
    m_sizeIndex = index;
    const QString text = sizeItems().at(index);
    if (index == 0) {
        m_textW.clear();
        m_enabled.width = false;
        m_textH.clear();
        m_enabled.height = false;
    } else if (text == QLatin1String("Custom...")) {
        m_enabled.width = true;
        m_enabled.height = true;
        m_focusRequest = Box::Width;
    } else {
        const qsizetype p = text.indexOf(QLatin1String(" x ")) + 1; // 1-based
        if (p > 0) {
            m_enabled.width = false;
            m_enabled.height = false;
            m_textW = integerText(leadingNumber(text.left(p)));
            m_textH = integerText(leadingNumber(text.right(text.size() - p - 2)));
        }
    }
    Q_EMIT changed();
}

void OutputSettingsModel::setWidthText(const QString &text)
{
    m_textW = text;
    Q_EMIT changed();
}

void OutputSettingsModel::setHeightText(const QString &text)
{
    m_textH = text;
    Q_EMIT changed();
}

void OutputSettingsModel::ValidateSizeBox(Box box)
{
    if (box != Box::Width && box != Box::Height)
        return;
    QString &text = box == Box::Width ? m_textW : m_textH;
    const double v = std::nearbyint(leadingNumber(text));
    if (v < 16)
        text = QStringLiteral("16");
    if (v > 5000)
        text = QStringLiteral("5000");
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (ok && n % 2 != 0)
        text = QString::number(n + 1);
    Q_EMIT changed();
}

bool OutputSettingsModel::sizeKeyAccepted(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c.unicode() == 8;
}

void OutputSettingsModel::selectVideoQuality(int index)
{
    m_videoQuality = index;
    m_grid.setValue(Setting::VideoBitrate, QStringLiteral("Auto"));
    Q_EMIT changed();
}

void OutputSettingsModel::selectAudioQuality(int index)
{
    m_audioQuality = index;
    m_grid.setValue(Setting::AudioBitrate, QStringLiteral("Auto"));
    m_grid.setValue(Setting::SampleRate, QStringLiteral("Auto"));
    Q_EMIT changed();
}

void OutputSettingsModel::enableConversionControls(bool on)
{
    m_enabled.format = on;
    m_enabled.size = on;
    m_enabled.videoQuality = on;
    m_enabled.audioQuality = on;
    m_enabled.more = on;
    m_enabled.frame = on;
}

void OutputSettingsModel::option1Click()
{
    m_option = Option::DirectCopy;
    enableConversionControls(false);
    m_advancedPanelShown = true;
    moreClick();
}

void OutputSettingsModel::setExactCut(bool on)
{
    if (m_exactCut == on)
        return;
    m_exactCut = on;
    Q_EMIT changed();
}

void OutputSettingsModel::option2Click()
{
    m_option = Option::Convert;
    enableConversionControls(true);
    if (m_audioOnly)
        restrictForAudioOnly();
    Q_EMIT changed();
}

void OutputSettingsModel::moreClick()
{
    if (m_advancedPanelShown) {
        m_dialogWidthTwips = NarrowWidthTwips;
        m_advancedPanelShown = false;
    } else {
        m_dialogWidthTwips = WideWidthTwips;
        m_advancedPanelShown = true;
    }
    Q_EMIT changed();
}

QString OutputSettingsModel::moreCaption() const
{
    return m_advancedPanelShown ? QStringLiteral("More <<") : QStringLiteral("More >>");
}

void OutputSettingsModel::setDefaultName(const QString &inputPath)
{
    qsizetype sep = -1;
    for (qsizetype i = inputPath.size() - 1; i >= 0; --i) {
        if (IsPathSeparator(inputPath.at(i))) {
            sep = i;
            break;
        }
    }
    const qsizetype dot = inputPath.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < sep)
        return; // no extension to cut off: the box keeps its name
    setFileName(inputPath.mid(sep + 1, dot - sep - 1) + QStringLiteral("-cut"));
}

bool OutputSettingsModel::nameKeyAccepted(QChar c)
{
    return !forbiddenNameCharacters().contains(c);
}

QString OutputSettingsModel::withoutForbidden(QString text)
{
    for (const QChar c : forbiddenNameCharacters())
        text.remove(c);
    // Control characters (a pasted line break) have no place in a file name either.
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text;
}

void OutputSettingsModel::setFileName(const QString &text)
{
    m_fileName = withoutForbidden(text);
    Q_EMIT changed();
}

void OutputSettingsModel::setFolder(const QString &text)
{
    m_folder = text;
    Q_EMIT changed();
}

OutputSettingsModel::NameCheck OutputSettingsModel::checkOutputName()
{
    NameCheck check;
    m_fileName = m_fileName.trimmed();
    if (m_fileName.isEmpty()) {
        check.fault = NameFault::FileName;
        check.message = QStringLiteral("Invalid file name!");
        check.focus = m_focusRequest = Box::FileName;
        Q_EMIT changed();
        return check;
    }
    m_folder = m_folder.trimmed();
    // A relative folder is made absolute once, here, from the working folder of this moment:
    // "out", "." and ".." then name the folder the file really goes to, and the box says so.
    // An empty box stays empty and becomes the bare separator, which is refused below.
    m_folder = AbsoluteFolder(m_folder);
    if (m_folder.isEmpty() || !IsPathSeparator(m_folder.back()))
        m_folder += PathSeparator();
    if (!FolderExists(m_folder) || m_folder.size() <= 2) {
        if (m_folder.size() > 2 && !QFileInfo::exists(QDir::cleanPath(m_folder)))
            check.missingFolder = m_folder;
        check.fault = NameFault::Folder;
        check.message = QStringLiteral("Invalid path!");
        check.focus = m_focusRequest = Box::Folder;
        check.openFolderChooser = true;
        Q_EMIT changed();
        return check;
    }
    check.ok = true;
    Q_EMIT changed();
    return check;
}

QString OutputSettingsModel::chooserFolder(const QString &inputPath) const
{
    // A box too short to be a destination ("", or the bare separator it becomes at OK) opens
    // the chooser at the source, not at the root.
    const QString typed = m_folder.trimmed();
    if (typed.size() > 2) {
        QString folder = AbsoluteFolder(typed);
        while (!folder.isEmpty() && !FolderExists(folder)) {
            const QString parent = QFileInfo(QDir::cleanPath(folder)).absolutePath();
            if (parent == QDir::cleanPath(folder))
                break;
            folder = parent;
        }
        if (FolderExists(folder))
            return QDir::cleanPath(folder);
    }
    return inputPath.isEmpty() ? QString() : QFileInfo(inputPath).absolutePath();
}

OutputSettingsModel::Box OutputSettingsModel::takeFocusRequest()
{
    const Box box = m_focusRequest;
    m_focusRequest = Box::None;
    return box;
}
