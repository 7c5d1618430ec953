#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The advanced settings grid as a model: categories and items, each with a kind, a value,
// suggested values, a description and hidden and read-only states. The program reads and
// writes the items by Setting; the caption overloads serve what the user names (the grid's
// editing, snipora-cut's --set) and resolve the caption through the same one table.
// The grid view only shows and edits this model; userEdit() is what the view calls when the
// user changed a value, and runs the value-changed handling and the validation.
class AdvancedSettings : public QObject
{
    Q_OBJECT
public:
    enum class Kind {
        Text, // text with an editable drop-down of suggestions
        ReadOnlyText, // shown only
        Number, // an integer (Rotate also offers suggestions)
        Check, // a check box
        FixedChoice, // a drop-down that cannot be typed into; each entry carries a number
    };

    // The grid's categories, in display order.
    enum class Category { OutputFile, Video, Audio };

    // Every item of the grid, in display order.
    enum class Setting {
        FilenameExtension,
        VideoBitrate,
        FrameRate,
        AspectRate,
        CropVideo,
        CropTop,
        CropBottom,
        CropLeft,
        CropRight,
        VerticalFlip,
        HorizontalFlip,
        Rotate,
        AudioBitrate,
        SampleRate,
        Channels,
        RemoveAudio,
    };

    struct Item
    {
        QString caption {};
        QString category {};
        QString parent {}; // the item it sits under ("Crop Video" for the margins)
        Kind kind = Kind::Text;
        QString text {}; // the value of Text, ReadOnlyText and Number items
        bool checked = false;
        int choice = 0; // index into choices for FixedChoice
        QStringList suggestions {};
        QList<QPair<QString, int>> choices {};
        QString description {};
        bool hidden = false;
        bool readOnly = false;
        Setting key = Setting::FilenameExtension;
    };

    // The caption the grid shows for a setting, and the setting a caption names (none for a
    // text that names no item).
    static QString captionOf(Setting key);
    static std::optional<Setting> settingOf(const QString &caption);
    static QString captionOf(Category category);

    explicit AdvancedSettings(QObject *parent = nullptr);

    // Creates the categories and items in display order, with their initial values.
    void build();

    const QList<Item> &items() const { return m_items; }
    QStringList categories() const;
    const Item *item(Setting key) const;
    const Item *item(const QString &caption) const;

    // The value as text: Text/Number as stored, Check "True"/"False", FixedChoice the chosen
    // entry's text.
    QString value(Setting key) const;
    QString value(const QString &caption) const;
    bool checked(Setting key) const;
    bool checked(const QString &caption) const;
    // Number items as integers (0 for anything else), FixedChoice as the entry's number.
    int number(Setting key) const;
    int number(const QString &caption) const;

    // Programmatic changes, without the value-changed handling. For a FixedChoice item the
    // text selects the entry of that text; for a Check item "True"/"False" (or "1"/"0").
    void setValue(Setting key, const QString &value);
    void setValue(const QString &caption, const QString &value);
    void setChecked(Setting key, bool on);
    void setChecked(const QString &caption, bool on);
    void setHidden(Setting key, bool hidden);
    void setHidden(const QString &caption, bool hidden);
    void setReadOnly(Setting key, bool readOnly);
    void setReadOnly(const QString &caption, bool readOnly);
    void setCategoryHidden(Category category, bool hidden);
    void setCategoryHidden(const QString &category, bool hidden);
    bool isCategoryHidden(Category category) const;
    bool isCategoryHidden(const QString &category) const;
    bool isHidden(Setting key) const;
    bool isHidden(const QString &caption) const;
    bool isReadOnly(Setting key) const;
    bool isReadOnly(const QString &caption) const;

    // The user changed an item's value; runs the value-changed handling. Returns false when
    // the item does not exist or is read-only (nothing changes then).
    bool userEdit(const QString &caption, const QString &value);
    void valueChanged(Setting key);
    void valueChanged(const QString &caption);
    void ValidateGridValues();

    // Why a value (already trimmed) cannot be used for the item, as one sentence that names
    // the value; "" when it can. The one rule shared by the grid and snipora-cut: the grid
    // returns a refused value to "Auto" (or a margin to "0") without a word, after its own
    // corrections (a margin's sign dropped, a rotation beyond 270 made 0); snipora-cut refuses
    // it. Beyond the patterns of ValidateGridValues() it refuses what no encoder can honour:
    // bit rates, sample rates, frame rates and aspect terms of zero or beyond any use, and
    // margins that crop the picture away (see setPictureSize()). Also check box values other
    // than True/False/1/0 and choices that are not in the list.
    QString refusal(Setting key, const QString &value) const;
    QString refusal(const QString &caption, const QString &value) const;
    // The source's picture, against which the crop margins are checked; 0 when unknown (no
    // check). Margins that no longer fit return to "0".
    void setPictureSize(int width, int height);

Q_SIGNALS:
    // Values, hidden or read-only states changed.
    void changed();

private:
    Item *find(Setting key);
    // Applies edit to the item, if there is one, and reports the change.
    void change(Setting key, const std::function<void(Item &)> &edit);
    void setText(Item &item, const QString &text);
    void steerDependents(const Item &item);
    void correctTypedNumber(Item &item);
    QString numberRefusal(const Item &item, const QString &value) const;
    QString textRefusal(Setting key, const QString &value) const;
    QString marginRefusal(Setting key, const QString &value, qlonglong pixels) const;

    QList<Item> m_items;
    QStringList m_hiddenCategories;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
};
