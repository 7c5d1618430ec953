#include "settings.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

const QString kOrganisation = QStringLiteral("Ferrolan Software");
const QString kApplication = QStringLiteral("Snipora");

QString cleaned(QString text)
{
    if (text.isEmpty())
        return text;
    if (text.front() == QChar(0))
        return QString();
    if (text.back() == QChar(0))
        text.chop(1);
    return text;
}

} // namespace

QString ReadSetting(const QString &name)
{
    QSettings store(kOrganisation, kApplication);
    if (store.status() != QSettings::NoError)
        return QString();
    const QVariant value = store.value(name);
    if (!value.isValid())
        return QString();
    QString text;
    if (value.typeId() == QMetaType::QStringList) {
        // An unquoted stored text with commas reads back as a list; its text is the list
        // joined again.
        text = value.toStringList().join(QStringLiteral(", "));
    } else if (value.canConvert<QString>()) {
        text = value.toString();
    }
    return cleaned(text);
}

void WriteSetting(const QString &name, const QString &text)
{
    QSettings store(kOrganisation, kApplication);
    store.setValue(name, text);
    store.sync();
}
