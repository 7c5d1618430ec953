#include "advancedsettings.h"

#include <QRegularExpression>

namespace {

// What the encoders of the catalogue can honour at all; values beyond are typing mistakes.
constexpr double kMostVideoBitsPerSecond = 1e9;
constexpr double kMostAudioBitsPerSecond = 1e7;
constexpr qlonglong kMostSampleRate = 768000;
constexpr double kMostFrameRate = 1000;
constexpr qlonglong kMostAspectTerm = 10000;
constexpr qlonglong kLeastPictureLeft = 2; // pixels a crop must leave in each direction

const QString kOutputFile = AdvancedSettings::captionOf(AdvancedSettings::Category::OutputFile);
const QString kVideoSettings = AdvancedSettings::captionOf(AdvancedSettings::Category::Video);
const QString kAudioSettings = AdvancedSettings::captionOf(AdvancedSettings::Category::Audio);

bool allDigits(const QString &s)
{
    for (const QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// n digits, or n - 1 digits followed by "k" (either case).
bool isBitrate(const QString &value)
{
    if (allDigits(value))
        return true;
    const QString lower = value.toLower();
    return lower.endsWith(QLatin1Char('k')) && allDigits(lower.left(lower.size() - 1));
}

bool isNumber(const QString &value)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    return pattern.match(value).hasMatch();
}

bool isAspect(const QString &value)
{
    const qsizetype p = value.indexOf(QLatin1Char(':'));
    if (p < 0)
        return false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (i == p)
            continue;
        if (value.at(i) < QLatin1Char('0') || value.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

using Setting = AdvancedSettings::Setting;
using Kind = AdvancedSettings::Kind;

bool isMargin(Setting key)
{
    return key == Setting::CropTop || key == Setting::CropBottom || key == Setting::CropLeft
        || key == Setting::CropRight;
}

Setting oppositeMargin(Setting key)
{
    switch (key) {
    case Setting::CropTop:
        return Setting::CropBottom;
    case Setting::CropBottom:
        return Setting::CropTop;
    case Setting::CropLeft:
        return Setting::CropRight;
    default:
        return Setting::CropLeft;
    }
}

// The bits per second of a text that passed isBitrate(): "1500k" is 1500000, "k" is 0.
double bitsPerSecond(const QString &value)
{
    const bool kilo = value.endsWith(QLatin1Char('k'), Qt::CaseInsensitive);
    const QString digits = kilo ? value.chopped(1) : value;
    return digits.isEmpty() ? 0.0 : digits.toDouble() * (kilo ? 1000.0 : 1.0);
}

QString named(const QString &caption, const QString &value)
{
    return QStringLiteral("\"%1\" for %2").arg(value, caption);
}

// The output file's item and the video category's items up to Crop Video.
QList<AdvancedSettings::Item> videoDefinitions()
{
    return {
        { .caption = QStringLiteral("Filename Extension"),
          .category = kOutputFile,
          .kind = Kind::ReadOnlyText,
          .readOnly = true,
          .key = Setting::FilenameExtension },
        { .caption = QStringLiteral("Video Bitrate"),
          .category = kVideoSettings,
          .text = QStringLiteral("Auto"),
          .suggestions = { "Auto",  "64k",   "96k",   "128k",  "160k",  "192k",  "256k",  "320k",
                           "384k",  "448k",  "512k",  "640k",  "768k",  "1000k", "1200k", "1500k",
                           "1800k", "2000k", "2200k", "2500k", "2800k", "3000k", "3500k", "4000k" },
          .description = QStringLiteral("Set the video bit rate in bps (Bit Per Second)"),
          .key = Setting::VideoBitrate },
        { .caption = QStringLiteral("Frame Rate (FPS)"),
          .category = kVideoSettings,
          .text = QStringLiteral("Auto"),
          .suggestions
          = { "Auto", "10", "12", "15", "20", "23.97", "24", "25", "29.97", "30", "50", "60" },
          .description = QStringLiteral("Set how many frames should be displayed per second. "
                                        "Higher frame rate increases the smoothness when played "
                                        "back"),
          .key = Setting::FrameRate },
        { .caption = QStringLiteral("Aspect Rate"),
          .category = kVideoSettings,
          .text = QStringLiteral("Auto"),
          .suggestions = { "Auto", "4:3", "16:9" },
          .description = QStringLiteral("Set width to height ratio according to the screen "
                                        "aspect of your playback device"),
          .key = Setting::AspectRate },
        { .caption = QStringLiteral("Crop Video"),
          .category = kVideoSettings,
          .kind = Kind::Check,
          .description = QStringLiteral("Crop the input video"),
          .key = Setting::CropVideo },
    };
}

// The crop margins under Crop Video, the flips and the rotation.
QList<AdvancedSettings::Item> pictureDefinitions()
{
    QList<AdvancedSettings::Item> list;
    const std::pair<const char *, Setting> margins[] = { { "Top", Setting::CropTop },
                                                         { "Bottom", Setting::CropBottom },
                                                         { "Left", Setting::CropLeft },
                                                         { "Right", Setting::CropRight } };
    for (const auto &[caption, key] : margins)
        list << AdvancedSettings::Item { .caption = QString::fromLatin1(caption),
                                         .category = kVideoSettings,
                                         .parent = QStringLiteral("Crop Video"),
                                         .kind = Kind::Number,
                                         .text = QStringLiteral("0"),
                                         .readOnly = true,
                                         .key = key };
    list << AdvancedSettings::Item { .caption = QStringLiteral("Vertically Flip"),
                                     .category = kVideoSettings,
                                     .kind = Kind::Check,
                                     .description
                                     = QStringLiteral("Flip the input video vertically"),
                                     .key = Setting::VerticalFlip }
         << AdvancedSettings::Item { .caption = QStringLiteral("Horizontally Flip"),
                                     .category = kVideoSettings,
                                     .kind = Kind::Check,
                                     .description
                                     = QStringLiteral("Flip the input video horizontally"),
                                     .key = Setting::HorizontalFlip }
         << AdvancedSettings::Item { .caption = QStringLiteral("Rotate"),
                                     .category = kVideoSettings,
                                     .kind = Kind::Number,
                                     .text = QStringLiteral("0"),
                                     .suggestions = { "-90", "90" },
                                     .description = QStringLiteral(
                                         "Rotate the video xx degrees clockwise. Valid number is "
                                         "from -270 to 270"),
                                     .key = Setting::Rotate };
    return list;
}

// The audio category's items.
QList<AdvancedSettings::Item> audioDefinitions()
{
    return {
        { .caption = QStringLiteral("Audio Bitrate"),
          .category = kAudioSettings,
          .text = QStringLiteral("Auto"),
          .suggestions = { "Auto", "32k", "40k", "48k", "56k", "64k", "80k", "96k", "112k", "128k",
                           "160k", "192k", "224k", "256k", "320k" },
          .description = QStringLiteral("Set the audio bitrate in bps(Bit Per Second)"),
          .key = Setting::AudioBitrate },
        { .caption = QStringLiteral("Sample Rate"),
          .category = kAudioSettings,
          .text = QStringLiteral("Auto"),
          .suggestions = { "Auto", "8000", "11025", "16000", "22050", "32000", "44100", "48000" },
          .description = QStringLiteral("Set the audio sampling frequency (the number of samples "
                                        "per second)"),
          .key = Setting::SampleRate },
        { .caption = QStringLiteral("Channels"),
          .category = kAudioSettings,
          .kind = Kind::FixedChoice,
          .choices = { { QStringLiteral("Auto"), 0 },
                       { QStringLiteral("1"), 1 },
                       { QStringLiteral("2"), 2 } },
          .description = QStringLiteral("Set number of audio channels. 1 - Mono, 2 - Stereo"),
          .key = Setting::Channels },
        { .caption = QStringLiteral("Remove Audio"),
          .category = kAudioSettings,
          .kind = Kind::Check,
          .key = Setting::RemoveAudio },
    };
}

// Every item with its caption and initial state, in display order (the order of Setting):
// the one place where a caption and its setting meet.
const QList<AdvancedSettings::Item> &definitions()
{
    static const QList<AdvancedSettings::Item> items = [] {
        QList<AdvancedSettings::Item> list;
        list << videoDefinitions() << pictureDefinitions() << audioDefinitions();
        return list;
    }();
    return items;
}

QString named(Setting key, const QString &value)
{
    return named(AdvancedSettings::captionOf(key), value);
}

// Check box values: True/False/1/0 in any case.
QString checkRefusal(Setting key, const QString &value)
{
    for (const char *accepted : { "True", "False", "1", "0" }) {
        if (value.compare(QLatin1String(accepted), Qt::CaseInsensitive) == 0)
            return QString();
    }
    return QStringLiteral("%1 is not a check box value: give True or False").arg(named(key, value));
}

// A choice must be the text of one of the item's entries.
QString choiceRefusal(const AdvancedSettings::Item &item, const QString &value)
{
    QStringList texts;
    for (const auto &choice : item.choices) {
        if (choice.first == value)
            return QString();
        texts << choice.first;
    }
    return QStringLiteral("%1 is not one of its choices: %2")
        .arg(named(item.key, value), texts.join(QStringLiteral(", ")));
}

// A bit rate is digits with an optional k, above 0 and at most `most` bits per second.
QString bitrateRefusal(Setting key, const QString &value, double most)
{
    if (!isBitrate(value))
        return QStringLiteral("%1 is not a bit rate: give bits per second as digits, "
                              "optionally followed by k (1500k)")
            .arg(named(key, value));
    const double bps = bitsPerSecond(value);
    if (!(bps > 0) || bps > most)
        return QStringLiteral("%1 is not a usable bit rate: give more than 0 and at most %2k")
            .arg(named(key, value))
            .arg(qlonglong(most / 1000));
    return QString();
}

// A sample rate is digits, above 0 and at most kMostSampleRate.
QString sampleRateRefusal(Setting key, const QString &value)
{
    if (!allDigits(value))
        return QStringLiteral("%1 is not a sample rate: give samples per second as digits "
                              "(44100)")
            .arg(named(key, value));
    bool ok = false;
    const qlonglong rate = value.toLongLong(&ok);
    if (!ok || rate <= 0 || rate > kMostSampleRate)
        return QStringLiteral("%1 is not a usable sample rate: give more than 0 and at "
                              "most %2")
            .arg(named(key, value))
            .arg(kMostSampleRate);
    return QString();
}

// A frame rate is a decimal number, above 0 and at most kMostFrameRate.
QString frameRateRefusal(Setting key, const QString &value)
{
    if (!isNumber(value))
        return QStringLiteral("%1 is not a frame rate: give a number (25 or 29.97)")
            .arg(named(key, value));
    const double rate = value.toDouble();
    if (!(rate > 0) || rate > kMostFrameRate)
        return QStringLiteral("%1 is not a usable frame rate: give more than 0 and at "
                              "most %2")
            .arg(named(key, value))
            .arg(kMostFrameRate);
    return QString();
}

// An aspect is two whole numbers from 1 to kMostAspectTerm with a colon between them.
QString aspectRefusal(Setting key, const QString &value)
{
    if (!isAspect(value))
        return QStringLiteral("%1 is not an aspect ratio: give two whole numbers with a "
                              "colon (16:9)")
            .arg(named(key, value));
    bool widthOk = false;
    bool heightOk = false;
    const qlonglong w = value.section(QLatin1Char(':'), 0, 0).toLongLong(&widthOk);
    const qlonglong h = value.section(QLatin1Char(':'), 1, 1).toLongLong(&heightOk);
    if (!widthOk || !heightOk || w < 1 || h < 1 || w > kMostAspectTerm || h > kMostAspectTerm)
        return QStringLiteral("%1 is not a usable aspect ratio: give two numbers from 1 to "
                              "%2 (16:9)")
            .arg(named(key, value))
            .arg(kMostAspectTerm);
    return QString();
}

} // namespace

AdvancedSettings::AdvancedSettings(QObject *parent)
    : QObject(parent)
{
}

QString AdvancedSettings::captionOf(Setting key)
{
    for (const Item &i : definitions()) {
        if (i.key == key)
            return i.caption;
    }
    return QString();
}

std::optional<AdvancedSettings::Setting> AdvancedSettings::settingOf(const QString &caption)
{
    for (const Item &i : definitions()) {
        if (i.caption == caption)
            return i.key;
    }
    return std::nullopt;
}

void AdvancedSettings::build()
{
    m_items = definitions();
    m_hiddenCategories.clear();
    Q_EMIT changed();
}

QStringList AdvancedSettings::categories() const
{
    QStringList list;
    for (const Item &i : m_items) {
        if (!list.contains(i.category))
            list << i.category;
    }
    return list;
}

const AdvancedSettings::Item *AdvancedSettings::item(Setting key) const
{
    for (const Item &i : m_items) {
        if (i.key == key)
            return &i;
    }
    return nullptr;
}

const AdvancedSettings::Item *AdvancedSettings::item(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return key ? item(*key) : nullptr;
}

AdvancedSettings::Item *AdvancedSettings::find(Setting key)
{
    for (Item &i : m_items) {
        if (i.key == key)
            return &i;
    }
    return nullptr;
}

QString AdvancedSettings::value(Setting key) const
{
    const Item *i = item(key);
    if (!i)
        return QString();
    switch (i->kind) {
    case Kind::Check:
        return i->checked ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::FixedChoice:
        return i->choices.value(i->choice).first;
    default:
        return i->text;
    }
}

QString AdvancedSettings::value(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return key ? value(*key) : QString();
}

bool AdvancedSettings::checked(Setting key) const
{
    const Item *i = item(key);
    return i && i->checked;
}

bool AdvancedSettings::checked(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return key && checked(*key);
}

int AdvancedSettings::number(Setting key) const
{
    const Item *i = item(key);
    if (!i)
        return 0;
    if (i->kind == Kind::FixedChoice)
        return i->choices.value(i->choice).second;
    bool ok = false;
    const int v = i->text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

int AdvancedSettings::number(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return key ? number(*key) : 0;
}

void AdvancedSettings::setText(Item &item, const QString &text)
{
    switch (item.kind) {
    case Kind::Check:
        item.checked = text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0
            || text == QLatin1String("1");
        break;
    case Kind::FixedChoice:
        for (int c = 0; c < item.choices.size(); ++c) {
            if (item.choices.at(c).first == text) {
                item.choice = c;
                break;
            }
        }
        break;
    default:
        item.text = text;
        break;
    }
}

void AdvancedSettings::change(Setting key, const std::function<void(Item &)> &edit)
{
    if (Item *i = find(key)) {
        edit(*i);
        Q_EMIT changed();
    }
}

void AdvancedSettings::setValue(Setting key, const QString &value)
{
    change(key, [this, &value](Item &item) { setText(item, value); });
}

void AdvancedSettings::setValue(const QString &caption, const QString &value)
{
    if (const std::optional<Setting> key = settingOf(caption))
        setValue(*key, value);
}

void AdvancedSettings::setChecked(Setting key, bool on)
{
    change(key, [on](Item &item) { item.checked = on; });
}

void AdvancedSettings::setChecked(const QString &caption, bool on)
{
    if (const std::optional<Setting> key = settingOf(caption))
        setChecked(*key, on);
}

void AdvancedSettings::setHidden(Setting key, bool hidden)
{
    change(key, [hidden](Item &item) { item.hidden = hidden; });
}

void AdvancedSettings::setHidden(const QString &caption, bool hidden)
{
    if (const std::optional<Setting> key = settingOf(caption))
        setHidden(*key, hidden);
}

void AdvancedSettings::setReadOnly(Setting key, bool readOnly)
{
    change(key, [readOnly](Item &item) { item.readOnly = readOnly; });
}

void AdvancedSettings::setReadOnly(const QString &caption, bool readOnly)
{
    if (const std::optional<Setting> key = settingOf(caption))
        setReadOnly(*key, readOnly);
}

QString AdvancedSettings::captionOf(Category category)
{
    switch (category) {
    case Category::OutputFile:
        return QStringLiteral("Output File");
    case Category::Video:
        return QStringLiteral("Video Settings");
    case Category::Audio:
        break;
    }
    return QStringLiteral("Audio Settings");
}

void AdvancedSettings::setCategoryHidden(Category category, bool hidden)
{
    setCategoryHidden(captionOf(category), hidden);
}

bool AdvancedSettings::isCategoryHidden(Category category) const
{
    return isCategoryHidden(captionOf(category));
}

void AdvancedSettings::setCategoryHidden(const QString &category, bool hidden)
{
    m_hiddenCategories.removeAll(category);
    if (hidden)
        m_hiddenCategories << category;
    Q_EMIT changed();
}

bool AdvancedSettings::isCategoryHidden(const QString &category) const
{
    return m_hiddenCategories.contains(category);
}

bool AdvancedSettings::isHidden(Setting key) const
{
    const Item *i = item(key);
    return !i || i->hidden || isCategoryHidden(i->category);
}

bool AdvancedSettings::isHidden(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return !key || isHidden(*key);
}

bool AdvancedSettings::isReadOnly(Setting key) const
{
    const Item *i = item(key);
    return !i || i->readOnly;
}

bool AdvancedSettings::isReadOnly(const QString &caption) const
{
    const std::optional<Setting> key = settingOf(caption);
    return !key || isReadOnly(*key);
}

bool AdvancedSettings::userEdit(const QString &caption, const QString &value)
{
    const std::optional<Setting> key = settingOf(caption);
    Item *i = key ? find(*key) : nullptr;
    if (!i || i->readOnly)
        return false;
    if (i->kind == Kind::Number) {
        // The grid takes only whole numbers here; other text leaves the value as it was.
        const QString t = value.trimmed();
        bool ok = t.isEmpty();
        if (!ok)
            t.toInt(&ok);
        if (!ok)
            return false;
    }
    setText(*i, value);
    valueChanged(*key);
    return true;
}

// Remove Audio hides the audio items while checked; Crop Video makes the margins editable
// while checked (they keep their values either way).
void AdvancedSettings::steerDependents(const Item &item)
{
    if (item.key == Setting::RemoveAudio) {
        for (const Setting audio :
             { Setting::AudioBitrate, Setting::SampleRate, Setting::Channels })
            if (Item *a = find(audio))
                a->hidden = item.checked;
    }
    if (item.key == Setting::CropVideo) {
        for (const Setting margin :
             { Setting::CropTop, Setting::CropBottom, Setting::CropLeft, Setting::CropRight })
            if (Item *m = find(margin))
                m->readOnly = !item.checked;
    }
}

// A typed text or number is trimmed, and empty gives the neutral value ("0" for margins and
// the rotation, "Auto" otherwise). A margin is a size: its sign is dropped, and one that crops
// the picture away becomes 0; a rotation beyond 270 degrees either way becomes 0.
void AdvancedSettings::correctTypedNumber(Item &item)
{
    const bool zeroNeutral = isMargin(item.key) || item.key == Setting::Rotate;
    item.text = item.text.trimmed();
    if (item.text.isEmpty())
        item.text = zeroNeutral ? QStringLiteral("0") : QStringLiteral("Auto");
    bool ok = false;
    const qlonglong n = item.text.toLongLong(&ok);
    if (ok && isMargin(item.key)) {
        item.text = QString::number(n < 0 ? -n : n);
        if (!refusal(item.key, item.text).isEmpty())
            item.text = QStringLiteral("0");
    } else if (ok && item.key == Setting::Rotate) {
        if (n < -270 || n > 270)
            item.text = QStringLiteral("0");
    }
}

void AdvancedSettings::valueChanged(Setting key)
{
    Item *i = find(key);
    if (!i)
        return;
    steerDependents(*i);
    if (i->kind == Kind::Text || i->kind == Kind::Number)
        correctTypedNumber(*i);
    ValidateGridValues();
}

void AdvancedSettings::valueChanged(const QString &caption)
{
    if (const std::optional<Setting> key = settingOf(caption))
        valueChanged(*key);
}

void AdvancedSettings::ValidateGridValues()
{
    for (const Setting key : { Setting::VideoBitrate, Setting::AudioBitrate, Setting::SampleRate,
                               Setting::FrameRate, Setting::AspectRate }) {
        Item *i = find(key);
        if (i && i->text != QLatin1String("Auto") && !refusal(key, i->text).isEmpty())
            i->text = QStringLiteral("Auto");
    }
    Q_EMIT changed();
}

QString AdvancedSettings::refusal(const QString &caption, const QString &value) const
{
    const std::optional<Setting> key = settingOf(caption);
    if (!key || !item(*key))
        return QStringLiteral("\"%1\" names no advanced setting").arg(caption);
    return refusal(*key, value);
}

QString AdvancedSettings::refusal(Setting key, const QString &value) const
{
    const Item *i = item(key);
    if (!i)
        return QStringLiteral("\"%1\" names no advanced setting").arg(captionOf(key));
    switch (i->kind) {
    case Kind::ReadOnlyText:
        return QString();
    case Kind::Check:
        return checkRefusal(key, value);
    case Kind::FixedChoice:
        return choiceRefusal(*i, value);
    case Kind::Number:
        return numberRefusal(*i, value);
    case Kind::Text:
        break;
    }
    return textRefusal(key, value);
}

// A Number item: a whole number; the rotation from -270 to 270 degrees, a margin
// 0 or more and leaving the picture at least kLeastPictureLeft pixels.
QString AdvancedSettings::numberRefusal(const Item &item, const QString &value) const
{
    if (value.isEmpty())
        return QString();
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok)
        return QStringLiteral("%1 is not a whole number").arg(named(item.key, value));
    if (item.key == Setting::Rotate) {
        return n < -270 || n > 270 ? QStringLiteral("%1 is not a rotation from -270 to 270 degrees")
                                         .arg(named(item.key, value))
                                   : QString();
    }
    if (n < 0)
        return QStringLiteral("%1 is negative: a margin is a number of pixels, 0 or more")
            .arg(named(item.key, value));
    return marginRefusal(item.key, value, n);
}

// A Text item: empty and Auto always; otherwise the rule of its setting.
QString AdvancedSettings::textRefusal(Setting key, const QString &value) const
{
    if (value.isEmpty() || value == QLatin1String("Auto"))
        return QString();
    switch (key) {
    case Setting::VideoBitrate:
        return bitrateRefusal(key, value, kMostVideoBitsPerSecond);
    case Setting::AudioBitrate:
        return bitrateRefusal(key, value, kMostAudioBitsPerSecond);
    case Setting::SampleRate:
        return sampleRateRefusal(key, value);
    case Setting::FrameRate:
        return frameRateRefusal(key, value);
    case Setting::AspectRate:
        return aspectRefusal(key, value);
    default:
        return QString();
    }
}

QString AdvancedSettings::marginRefusal(Setting key, const QString &value, qlonglong pixels) const
{
    const bool vertical = key == Setting::CropTop || key == Setting::CropBottom;
    const int size = vertical ? m_pictureHeight : m_pictureWidth;
    if (size <= 0)
        return QString();
    const Setting other = oppositeMargin(key);
    const qlonglong together = pixels + std::max(0, number(other));
    if (size - together >= kLeastPictureLeft)
        return QString();
    return QStringLiteral("%1 crops the picture away: with %2 at %3, the picture is only %4 "
                          "pixels %5")
        .arg(named(key, value), captionOf(other))
        .arg(std::max(0, number(other)))
        .arg(size)
        .arg(vertical ? QStringLiteral("high") : QStringLiteral("wide"));
}

void AdvancedSettings::setPictureSize(int width, int height)
{
    m_pictureWidth = std::max(0, width);
    m_pictureHeight = std::max(0, height);
    for (const Setting margin : { Setting::CropTop, Setting::CropLeft }) {
        Item *first = find(margin);
        Item *opposite = find(oppositeMargin(margin));
        if (first && opposite && !refusal(margin, value(margin)).isEmpty()) {
            setText(*first, QStringLiteral("0"));
            setText(*opposite, QStringLiteral("0"));
        }
    }
    Q_EMIT changed();
}
