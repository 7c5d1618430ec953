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

const QString kOutputFile = QStringLiteral("Output File");
const QString kVideoSettings = QStringLiteral("Video Settings");
const QString kAudioSettings = QStringLiteral("Audio Settings");

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

bool isMargin(const QString &caption)
{
    return caption == QLatin1String("Top") || caption == QLatin1String("Bottom")
        || caption == QLatin1String("Left") || caption == QLatin1String("Right");
}

QString oppositeMargin(const QString &caption)
{
    if (caption == QLatin1String("Top"))
        return QStringLiteral("Bottom");
    if (caption == QLatin1String("Bottom"))
        return QStringLiteral("Top");
    if (caption == QLatin1String("Left"))
        return QStringLiteral("Right");
    return QStringLiteral("Left");
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

} // namespace

AdvancedSettings::AdvancedSettings(QObject *parent)
    : QObject(parent)
{
}

void AdvancedSettings::build()
{
    m_items.clear();
    m_hiddenCategories.clear();
    auto add = [this](Item item) { m_items << item; };

    add({ QStringLiteral("Filename Extension"),
          kOutputFile,
          {},
          Kind::ReadOnlyText,
          0,
          {},
          false,
          0,
          {},
          {},
          {},
          false,
          true });

    add({ QStringLiteral("Video Bitrate"),
          kVideoSettings,
          {},
          Kind::Text,
          0,
          QStringLiteral("Auto"),
          false,
          0,
          { "Auto",  "64k",   "96k",   "128k",  "160k",  "192k",  "256k",  "320k",
            "384k",  "448k",  "512k",  "640k",  "768k",  "1000k", "1200k", "1500k",
            "1800k", "2000k", "2200k", "2500k", "2800k", "3000k", "3500k", "4000k" },
          {},
          QStringLiteral("Set the video bit rate in bps (Bit Per Second)"),
          false,
          false });
    add({ QStringLiteral("Frame Rate (FPS)"),
          kVideoSettings,
          {},
          Kind::Text,
          0,
          QStringLiteral("Auto"),
          false,
          0,
          { "Auto", "10", "12", "15", "20", "23.97", "24", "25", "29.97", "30", "50", "60" },
          {},
          QStringLiteral("Set how many frames should be displayed per second. Higher frame rate "
                         "increases the smoothness when played back"),
          false,
          false });
    add({ QStringLiteral("Aspect Rate"),
          kVideoSettings,
          {},
          Kind::Text,
          0,
          QStringLiteral("Auto"),
          false,
          0,
          { "Auto", "4:3", "16:9" },
          {},
          QStringLiteral("Set width to height ratio according to the screen aspect of your "
                         "playback device"),
          false,
          false });
    add({ QStringLiteral("Crop Video"),
          kVideoSettings,
          {},
          Kind::Check,
          CropVideoId,
          {},
          false,
          0,
          {},
          {},
          QStringLiteral("Crop the input video"),
          false,
          false });
    for (const char *margin : { "Top", "Bottom", "Left", "Right" })
        add({ QString::fromLatin1(margin),
              kVideoSettings,
              QStringLiteral("Crop Video"),
              Kind::Number,
              0,
              QStringLiteral("0"),
              false,
              0,
              {},
              {},
              {},
              false,
              true });
    add({ QStringLiteral("Vertically Flip"),
          kVideoSettings,
          {},
          Kind::Check,
          0,
          {},
          false,
          0,
          {},
          {},
          QStringLiteral("Flip the input video vertically"),
          false,
          false });
    add({ QStringLiteral("Horizontally Flip"),
          kVideoSettings,
          {},
          Kind::Check,
          0,
          {},
          false,
          0,
          {},
          {},
          QStringLiteral("Flip the input video horizontally"),
          false,
          false });
    add({ QStringLiteral("Rotate"),
          kVideoSettings,
          {},
          Kind::Number,
          0,
          QStringLiteral("0"),
          false,
          0,
          { "-90", "90" },
          {},
          QStringLiteral("Rotate the video xx degrees clockwise. Valid number is from -270 to 270"),
          false,
          false });

    add({ QStringLiteral("Audio Bitrate"),
          kAudioSettings,
          {},
          Kind::Text,
          0,
          QStringLiteral("Auto"),
          false,
          0,
          { "Auto", "32k", "40k", "48k", "56k", "64k", "80k", "96k", "112k", "128k", "160k", "192k",
            "224k", "256k", "320k" },
          {},
          QStringLiteral("Set the audio bitrate in bps(Bit Per Second)"),
          false,
          false });
    add({ QStringLiteral("Sample Rate"),
          kAudioSettings,
          {},
          Kind::Text,
          0,
          QStringLiteral("Auto"),
          false,
          0,
          { "Auto", "8000", "11025", "16000", "22050", "32000", "44100", "48000" },
          {},
          QStringLiteral("Set the audio sampling frequency (the number of samples per second)"),
          false,
          false });
    add({ QStringLiteral("Channels"),
          kAudioSettings,
          {},
          Kind::FixedChoice,
          0,
          {},
          false,
          0,
          {},
          { { QStringLiteral("Auto"), 0 }, { QStringLiteral("1"), 1 }, { QStringLiteral("2"), 2 } },
          QStringLiteral("Set number of audio channels. 1 - Mono, 2 - Stereo"),
          false,
          false });
    add({ QStringLiteral("Remove Audio"),
          kAudioSettings,
          {},
          Kind::Check,
          RemoveAudioId,
          {},
          false,
          0,
          {},
          {},
          {},
          false,
          false });
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

const AdvancedSettings::Item *AdvancedSettings::item(const QString &caption) const
{
    for (const Item &i : m_items) {
        if (i.caption == caption)
            return &i;
    }
    return nullptr;
}

AdvancedSettings::Item *AdvancedSettings::find(const QString &caption)
{
    for (Item &i : m_items) {
        if (i.caption == caption)
            return &i;
    }
    return nullptr;
}

QString AdvancedSettings::value(const QString &caption) const
{
    const Item *i = item(caption);
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

bool AdvancedSettings::checked(const QString &caption) const
{
    const Item *i = item(caption);
    return i && i->checked;
}

int AdvancedSettings::number(const QString &caption) const
{
    const Item *i = item(caption);
    if (!i)
        return 0;
    if (i->kind == Kind::FixedChoice)
        return i->choices.value(i->choice).second;
    bool ok = false;
    const int v = i->text.trimmed().toInt(&ok);
    return ok ? v : 0;
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

void AdvancedSettings::setValue(const QString &caption, const QString &value)
{
    if (Item *i = find(caption)) {
        setText(*i, value);
        Q_EMIT changed();
    }
}

void AdvancedSettings::setChecked(const QString &caption, bool on)
{
    if (Item *i = find(caption)) {
        i->checked = on;
        Q_EMIT changed();
    }
}

void AdvancedSettings::setHidden(const QString &caption, bool hidden)
{
    if (Item *i = find(caption)) {
        i->hidden = hidden;
        Q_EMIT changed();
    }
}

void AdvancedSettings::setReadOnly(const QString &caption, bool readOnly)
{
    if (Item *i = find(caption)) {
        i->readOnly = readOnly;
        Q_EMIT changed();
    }
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

bool AdvancedSettings::isHidden(const QString &caption) const
{
    const Item *i = item(caption);
    return !i || i->hidden || isCategoryHidden(i->category);
}

bool AdvancedSettings::isReadOnly(const QString &caption) const
{
    const Item *i = item(caption);
    return !i || i->readOnly;
}

bool AdvancedSettings::userEdit(const QString &caption, const QString &value)
{
    Item *i = find(caption);
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
    valueChanged(caption);
    return true;
}

void AdvancedSettings::valueChanged(const QString &caption)
{
    Item *i = find(caption);
    if (!i)
        return;
    // 1, 2. The two check boxes that steer other items.
    if (i->id == RemoveAudioId) {
        for (const char *audio : { "Audio Bitrate", "Sample Rate", "Channels" })
            if (Item *a = find(QString::fromLatin1(audio)))
                a->hidden = i->checked;
    }
    if (i->id == CropVideoId) {
        for (const char *margin : { "Top", "Bottom", "Left", "Right" })
            if (Item *m = find(QString::fromLatin1(margin)))
                m->readOnly = !i->checked; // the margins keep their values either way
    }
    if (i->kind == Kind::Text || i->kind == Kind::Number) {
        // 3. Trim.
        i->text = i->text.trimmed();
        // 4. Empty gives the neutral value.
        if (i->text.isEmpty())
            i->text = (isMargin(caption) || caption == QLatin1String("Rotate"))
                ? QStringLiteral("0")
                : QStringLiteral("Auto");
        // 5. Margins are sizes; a rotation beyond a turn and a half is none.
        bool ok = false;
        const qlonglong n = i->text.toLongLong(&ok);
        if (ok && isMargin(caption)) {
            i->text = QString::number(n < 0 ? -n : n);
            // A margin that crops the picture away applies nothing.
            if (!refusal(caption, i->text).isEmpty())
                i->text = QStringLiteral("0");
        } else if (ok && caption == QLatin1String("Rotate")) {
            if (n < -270 || n > 270)
                i->text = QStringLiteral("0");
        }
    }
    // 6.
    ValidateGridValues();
}

void AdvancedSettings::ValidateGridValues()
{
    for (const char *caption :
         { "Video Bitrate", "Audio Bitrate", "Sample Rate", "Frame Rate (FPS)", "Aspect Rate" }) {
        Item *i = find(QString::fromLatin1(caption));
        if (i && i->text != QLatin1String("Auto") && !refusal(i->caption, i->text).isEmpty())
            i->text = QStringLiteral("Auto");
    }
    Q_EMIT changed();
}

QString AdvancedSettings::refusal(const QString &caption, const QString &value) const
{
    const Item *i = item(caption);
    if (!i)
        return QStringLiteral("\"%1\" names no advanced setting").arg(caption);
    switch (i->kind) {
    case Kind::ReadOnlyText:
        return QString();
    case Kind::Check:
        for (const char *accepted : { "True", "False", "1", "0" }) {
            if (value.compare(QLatin1String(accepted), Qt::CaseInsensitive) == 0)
                return QString();
        }
        return QStringLiteral("%1 is not a check box value: give True or False")
            .arg(named(caption, value));
    case Kind::FixedChoice: {
        QStringList texts;
        for (const auto &choice : i->choices) {
            if (choice.first == value)
                return QString();
            texts << choice.first;
        }
        return QStringLiteral("%1 is not one of its choices: %2")
            .arg(named(caption, value), texts.join(QStringLiteral(", ")));
    }
    case Kind::Number: {
        if (value.isEmpty())
            return QString();
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok)
            return QStringLiteral("%1 is not a whole number").arg(named(caption, value));
        if (caption == QLatin1String("Rotate")) {
            return n < -270 || n > 270
                ? QStringLiteral("%1 is not a rotation from -270 to 270 degrees")
                      .arg(named(caption, value))
                : QString();
        }
        if (n < 0)
            return QStringLiteral("%1 is negative: a margin is a number of pixels, 0 or more")
                .arg(named(caption, value));
        return marginRefusal(caption, value, n);
    }
    case Kind::Text:
        break;
    }
    if (value.isEmpty() || value == QLatin1String("Auto"))
        return QString();
    if (caption == QLatin1String("Video Bitrate") || caption == QLatin1String("Audio Bitrate")) {
        if (!isBitrate(value))
            return QStringLiteral("%1 is not a bit rate: give bits per second as digits, "
                                  "optionally followed by k (1500k)")
                .arg(named(caption, value));
        const bool video = caption == QLatin1String("Video Bitrate");
        const double most = video ? kMostVideoBitsPerSecond : kMostAudioBitsPerSecond;
        const double bps = bitsPerSecond(value);
        if (!(bps > 0) || bps > most)
            return QStringLiteral("%1 is not a usable bit rate: give more than 0 and at most %2k")
                .arg(named(caption, value))
                .arg(qlonglong(most / 1000));
    } else if (caption == QLatin1String("Sample Rate")) {
        if (!allDigits(value))
            return QStringLiteral("%1 is not a sample rate: give samples per second as digits "
                                  "(44100)")
                .arg(named(caption, value));
        bool ok = false;
        const qlonglong rate = value.toLongLong(&ok);
        if (!ok || rate <= 0 || rate > kMostSampleRate)
            return QStringLiteral("%1 is not a usable sample rate: give more than 0 and at "
                                  "most %2")
                .arg(named(caption, value))
                .arg(kMostSampleRate);
    } else if (caption == QLatin1String("Frame Rate (FPS)")) {
        if (!isNumber(value))
            return QStringLiteral("%1 is not a frame rate: give a number (25 or 29.97)")
                .arg(named(caption, value));
        const double rate = value.toDouble();
        if (!(rate > 0) || rate > kMostFrameRate)
            return QStringLiteral("%1 is not a usable frame rate: give more than 0 and at "
                                  "most %2")
                .arg(named(caption, value))
                .arg(kMostFrameRate);
    } else if (caption == QLatin1String("Aspect Rate")) {
        if (!isAspect(value))
            return QStringLiteral("%1 is not an aspect ratio: give two whole numbers with a "
                                  "colon (16:9)")
                .arg(named(caption, value));
        bool widthOk = false;
        bool heightOk = false;
        const qlonglong w = value.section(QLatin1Char(':'), 0, 0).toLongLong(&widthOk);
        const qlonglong h = value.section(QLatin1Char(':'), 1, 1).toLongLong(&heightOk);
        if (!widthOk || !heightOk || w < 1 || h < 1 || w > kMostAspectTerm || h > kMostAspectTerm)
            return QStringLiteral("%1 is not a usable aspect ratio: give two numbers from 1 to "
                                  "%2 (16:9)")
                .arg(named(caption, value))
                .arg(kMostAspectTerm);
    }
    return QString();
}

QString AdvancedSettings::marginRefusal(const QString &caption, const QString &value,
                                        qlonglong pixels) const
{
    const bool vertical = caption == QLatin1String("Top") || caption == QLatin1String("Bottom");
    const int size = vertical ? m_pictureHeight : m_pictureWidth;
    if (size <= 0)
        return QString();
    const QString other = oppositeMargin(caption);
    const qlonglong together = pixels + std::max(0, number(other));
    if (size - together >= kLeastPictureLeft)
        return QString();
    return QStringLiteral("%1 crops the picture away: with %2 at %3, the picture is only %4 "
                          "pixels %5")
        .arg(named(caption, value), other)
        .arg(std::max(0, number(other)))
        .arg(size)
        .arg(vertical ? QStringLiteral("high") : QStringLiteral("wide"));
}

void AdvancedSettings::setPictureSize(int width, int height)
{
    m_pictureWidth = std::max(0, width);
    m_pictureHeight = std::max(0, height);
    for (const char *caption : { "Top", "Left" }) {
        const QString margin = QString::fromLatin1(caption);
        if (!refusal(margin, value(margin)).isEmpty()) {
            setText(*find(margin), QStringLiteral("0"));
            setText(*find(oppositeMargin(margin)), QStringLiteral("0"));
        }
    }
    Q_EMIT changed();
}
