#include "propertygrid.h"

#include "advancedsettings.h"

#include <QComboBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int CaptionRole = Qt::UserRole + 1;

// An editable drop-down of suggestions; numbersOnly takes whole numbers only.
QComboBox *suggestionCombo(QWidget *parent, const QStringList &suggestions, bool numbersOnly)
{
    auto *combo = new QComboBox(parent);
    combo->setFrame(false);
    combo->setEditable(true);
    combo->addItems(suggestions);
    combo->setInsertPolicy(QComboBox::NoInsert);
    if (numbersOnly)
        combo->setValidator(new QIntValidator(combo));
    return combo;
}

// A drop-down that cannot be typed into; each entry carries its number.
QComboBox *choiceCombo(QWidget *parent, const QList<QPair<QString, int>> &choices)
{
    auto *combo = new QComboBox(parent);
    combo->setFrame(false);
    for (const auto &choice : choices)
        combo->addItem(choice.first, choice.second);
    return combo;
}

// A line for a whole number.
QLineEdit *numberEdit(QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setFrame(false);
    edit->setValidator(new QIntValidator(edit));
    return edit;
}

// Editors by kind; the new value goes to the model through userEdit().
class GridDelegate final : public QStyledItemDelegate
{
public:
    GridDelegate(AdvancedSettings &settings, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_settings(settings)
    {
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *,
                      const QModelIndex &index) const override;

private:
    AdvancedSettings &m_settings;
};

QWidget *GridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    const AdvancedSettings::Item *item = m_settings.item(index.data(CaptionRole).toString());
    if (!item)
        return QStyledItemDelegate::createEditor(parent, option, index);
    switch (item->kind) {
    case AdvancedSettings::Kind::Text:
        return suggestionCombo(parent, item->suggestions, false);
    case AdvancedSettings::Kind::FixedChoice:
        return choiceCombo(parent, item->choices);
    case AdvancedSettings::Kind::Number:
        if (!item->suggestions.isEmpty())
            return suggestionCombo(parent, item->suggestions, true);
        return numberEdit(parent);
    default:
        return nullptr; // check boxes are edited in place, read-only text not at all
    }
}

void GridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    const QString value = m_settings.value(index.data(CaptionRole).toString());
    if (auto *combo = qobject_cast<QComboBox *>(editor)) {
        if (combo->isEditable())
            combo->setCurrentText(value);
        else
            combo->setCurrentIndex(std::max(0, combo->findText(value)));
    } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
        edit->setText(value);
    }
}

void GridDelegate::setModelData(QWidget *editor, QAbstractItemModel *,
                                const QModelIndex &index) const
{
    QString text;
    if (auto *combo = qobject_cast<QComboBox *>(editor))
        text = combo->currentText();
    else if (auto *edit = qobject_cast<QLineEdit *>(editor))
        text = edit->text();
    else
        return;
    m_settings.userEdit(index.data(CaptionRole).toString(), text);
}

} // namespace

PropertyGrid::PropertyGrid(AdvancedSettings &settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("PropertyGrid1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_view = new QTreeView(this);
    m_model = new QStandardItemModel(0, 2, this);
    m_view->setModel(m_model);
    m_view->setItemDelegateForColumn(1, new GridDelegate(m_settings, this));
    m_view->setEditTriggers(QAbstractItemView::AllEditTriggers);
    m_view->setAlternatingRowColors(true);
    m_view->setRootIsDecorated(true);
    m_view->setUniformRowHeights(true);
    m_view->header()->setVisible(false);
    m_view->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_view->header()->setStretchLastSection(true);
    layout->addWidget(m_view, 1);
    m_description = new QLabel(this);
    m_description->setObjectName(QStringLiteral("GridDescription"));
    m_description->setWordWrap(true);
    m_description->setMinimumHeight(56);
    m_description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_description->setFrameShape(QFrame::StyledPanel);
    m_description->setMargin(4);
    layout->addWidget(m_description);

    connect(m_model, &QStandardItemModel::itemChanged, this, &PropertyGrid::onItemChanged);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { onCurrentChanged(current); });
    connect(&m_settings, &AdvancedSettings::changed, this, &PropertyGrid::refresh);
    build();
}

void PropertyGrid::build()
{
    m_refreshing = true;
    m_model->removeRows(0, m_model->rowCount());
    m_valueItems.clear();
    m_captionItems.clear();
    QHash<QString, QStandardItem *> parents;
    for (const QString &category : m_settings.categories()) {
        auto *head = new QStandardItem(category);
        head->setEditable(false);
        QFont bold = head->font();
        bold.setBold(true);
        head->setFont(bold);
        auto *blank = new QStandardItem;
        blank->setEditable(false);
        m_model->appendRow({ head, blank });
        parents.insert(category, head);
        m_captionItems.insert(category, head);
    }
    for (const AdvancedSettings::Item &item : m_settings.items()) {
        auto *caption = new QStandardItem(item.caption);
        caption->setEditable(false);
        caption->setData(item.caption, CaptionRole);
        auto *value = new QStandardItem;
        value->setData(item.caption, CaptionRole);
        QStandardItem *parent = item.parent.isEmpty() ? parents.value(item.category)
                                                      : m_captionItems.value(item.parent);
        if (!parent)
            continue;
        parent->appendRow({ caption, value });
        m_valueItems.insert(item.caption, value);
        m_captionItems.insert(item.caption, caption);
    }
    m_refreshing = false;
    m_view->expandAll();
    m_view->setColumnWidth(0, 165);
    refresh();
}

void PropertyGrid::refresh()
{
    if (m_valueItems.size() != m_settings.items().size()) {
        build();
        return;
    }
    m_refreshing = true;
    for (const AdvancedSettings::Item &item : m_settings.items()) {
        QStandardItem *value = m_valueItems.value(item.caption);
        QStandardItem *caption = m_captionItems.value(item.caption);
        if (!value || !caption)
            continue;
        const bool editable = !item.readOnly && item.kind != AdvancedSettings::Kind::ReadOnlyText;
        if (item.kind == AdvancedSettings::Kind::Check) {
            value->setEditable(false);
            value->setCheckable(true);
            value->setFlags(editable
                                ? (value->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled)
                                : (value->flags() & ~Qt::ItemIsUserCheckable));
            value->setCheckState(item.checked ? Qt::Checked : Qt::Unchecked);
        } else {
            value->setText(m_settings.value(item.caption));
            value->setEditable(editable);
        }
        const QColor ink = editable ? palette().color(QPalette::Text)
                                    : palette().color(QPalette::Disabled, QPalette::Text);
        value->setForeground(ink);
        caption->setForeground(ink);
        const QModelIndex index = caption->index();
        m_view->setRowHidden(index.row(), index.parent(), item.hidden);
    }
    for (const QString &category : m_settings.categories()) {
        if (QStandardItem *head = m_captionItems.value(category))
            m_view->setRowHidden(head->row(), QModelIndex(), m_settings.isCategoryHidden(category));
    }
    m_refreshing = false;
}

QModelIndex PropertyGrid::valueIndex(const QString &caption) const
{
    QStandardItem *value = m_valueItems.value(caption);
    return value ? value->index() : QModelIndex();
}

void PropertyGrid::onItemChanged(QStandardItem *item)
{
    if (m_refreshing || !item->isCheckable())
        return;
    const QString caption = item->data(CaptionRole).toString();
    const bool on = item->checkState() == Qt::Checked;
    if (m_settings.checked(caption) != on)
        m_settings.userEdit(caption, on ? QStringLiteral("True") : QStringLiteral("False"));
}

void PropertyGrid::onCurrentChanged(const QModelIndex &current)
{
    const QString caption = current.siblingAtColumn(0).data(CaptionRole).toString();
    const AdvancedSettings::Item *item = m_settings.item(caption);
    if (!item) {
        m_description->setText(QString());
        return;
    }
    m_description->setText(
        QStringLiteral("<b>%1</b><br>%2")
            .arg(item->caption.toHtmlEscaped(), item->description.toHtmlEscaped()));
}
