#pragma once

#include <QHash>
#include <QWidget>

class AdvancedSettings;
class QLabel;
class QStandardItem;
class QStandardItemModel;
class QTreeView;

// The advanced settings as a property grid: categories with their items, a caption column
// and a value column whose editors match each item's kind (editable drop-down, number,
// check box, fixed choice), and a description pane for the selected item. It only shows and
// edits the AdvancedSettings model: every edit goes through AdvancedSettings::userEdit().
class PropertyGrid final : public QWidget
{
    Q_OBJECT
public:
    PropertyGrid(AdvancedSettings &settings, QWidget *parent = nullptr);

    // Brings values, hidden and read-only states up to date with the model.
    void refresh();
    QTreeView *view() const { return m_view; }
    // The value cell of an item, for tests and accessibility.
    QModelIndex valueIndex(const QString &caption) const;

private:
    void build();
    void onItemChanged(QStandardItem *item);
    void onCurrentChanged(const QModelIndex &current);

    AdvancedSettings &m_settings;
    QTreeView *m_view = nullptr;
    QStandardItemModel *m_model = nullptr;
    QLabel *m_description = nullptr;
    QHash<QString, QStandardItem *> m_valueItems; // caption -> value cell
    QHash<QString, QStandardItem *> m_captionItems; // caption -> caption cell (categories too)
    bool m_refreshing = false;
};
