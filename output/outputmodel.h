#pragma once

#include "advancedsettings.h"
#include "catalogue.h"

#include <QObject>
#include <QString>
#include <QStringList>

// The whole state of the output settings dialog, with no widget in it: the choice between
// direct copy and conversion, the catalogue entry, size and quality, the advanced grid, the
// output name and folder, and the enabled states the dialog shows. Every operation the dialog
// offers is an operation here; the dialog only shows and edits this model, and a command-line
// front end can drive it the same way.
class OutputSettingsModel : public QObject
{
    Q_OBJECT
public:
    enum class Option { None, DirectCopy, Convert };
    enum class Box { None, Width, Height, FileName, Folder };

    struct Enabled
    {
        bool format = true;
        bool size = true;
        bool width = true;
        bool height = true;
        bool videoQuality = true;
        bool audioQuality = true;
        bool more = true;
        bool frame = true;
    };

    // What keeps the output name from being used.
    enum class NameFault {
        None,
        FileName, // nothing is left of the name
        Folder, // the folder is missing or cannot be the destination
    };
    struct NameCheck
    {
        bool ok = false;
        NameFault fault = NameFault::None;
        QString message; // "Invalid file name!" or "Invalid path!" when not ok
        Box focus = Box::None; // the box that gets the keyboard focus
        bool openFolderChooser = false;
        // The folder (absolute, ending in the separator) when the only fault is that it does
        // not exist yet: nothing of that name is in the way, so it may be made.
        QString missingFolder;
    };

    static constexpr int NarrowWidthTwips = 7305;
    static constexpr int WideWidthTwips = 12270;
    static constexpr int CustomSizeIndex = 15;

    explicit OutputSettingsModel(QObject *parent = nullptr);

    static const QStringList &sizeItems();
    static const QStringList &qualityItems();
    static QString forbiddenNameCharacters();
    // The names of the files of a cut saved one file per segment: each segment's label where it
    // makes a file name, else (and for a label used before) BASE-k, counting from 1.
    static QStringList eachFileNames(const QString &base, const QStringList &labels);

    // The dialog's load: grid, default format, sizes, qualities, folder, narrow width; then
    // conversion is selected so the dialog shows what OK will do.
    void load(const QString &outputFolder);

    // Catalogue
    void SelectCatalogueEntry(int id, const QString &caption);
    void ResetPresets();

    // Size and quality
    void selectSize(int index);
    void setWidthText(const QString &text);
    void setHeightText(const QString &text);
    void ValidateSizeBox(Box box);
    static bool sizeKeyAccepted(QChar c);
    void selectVideoQuality(int index);
    void selectAudioQuality(int index);

    // Options and the advanced panel
    void option1Click();
    void option2Click();
    void moreClick();

    // Naming
    void setDefaultName(const QString &inputPath);
    void setFileName(const QString &text); // applies the change filter
    static bool nameKeyAccepted(QChar c);
    // The text without the forbidden characters and without control characters.
    static QString withoutForbidden(QString text);
    void setFolder(const QString &text);
    // Where the folder chooser opens: the folder the destination box names (its nearest
    // existing parent when it does not exist), or the source file's folder when the box is
    // empty.
    QString chooserFolder(const QString &inputPath) const;
    NameCheck checkOutputName();

    // State
    AdvancedSettings &grid() { return m_grid; }
    const AdvancedSettings &grid() const { return m_grid; }
    Option option() const { return m_option; }
    bool directCopySelected() const { return m_option == Option::DirectCopy; }
    // "Exact cut": a direct copy re-encodes the frames before the first key frame instead of
    // starting on the key frame at or before the start.
    bool exactCut() const { return m_exactCut; }
    void setExactCut(bool on);
    QString formatKey() const { return m_formatKey; }
    // The catalogue id of the chosen entry.
    int entryId() const { return m_entryId; }
    // The limits of the chosen entry's device; none for the general formats.
    DeviceLimits deviceLimits() const;
    bool audioOnlyFormat() const { return m_audioOnly; }
    QString formatCaption() const { return m_formatCaption; }
    int sizeIndex() const { return m_sizeIndex; }
    QString widthText() const { return m_textW; }
    QString heightText() const { return m_textH; }
    int videoQuality() const { return m_videoQuality; }
    int audioQuality() const { return m_audioQuality; }
    bool advancedPanelShown() const { return m_advancedPanelShown; }
    int dialogWidthTwips() const { return m_dialogWidthTwips; }
    QString moreCaption() const;
    QString fileName() const { return m_fileName; }
    QString folder() const { return m_folder; }
    const Enabled &enabled() const { return m_enabled; }
    // The box that asked for the keyboard focus last; the dialog takes it and clears it.
    Box takeFocusRequest();

    // The leading decimal number of a text (blanks skipped; 0 when there is none).
    static double leadingNumber(const QString &text);

Q_SIGNALS:
    void changed();

private:
    void restrictForAudioOnly();
    // The format group's controls, which only a conversion uses (the size boxes aside).
    void enableConversionControls(bool on);

    AdvancedSettings m_grid;
    Option m_option = Option::None;
    QString m_formatKey = QStringLiteral("mp4h264");
    int m_entryId = Catalogue::DefaultEntryId;
    bool m_audioOnly = false;
    QString m_formatCaption;
    int m_sizeIndex = 0;
    QString m_textW;
    QString m_textH;
    int m_videoQuality = 1;
    int m_audioQuality = 1;
    bool m_advancedPanelShown = false;
    int m_dialogWidthTwips = NarrowWidthTwips;
    QString m_fileName;
    QString m_folder;
    Enabled m_enabled;
    Box m_focusRequest = Box::None;
    bool m_exactCut = true;
};
