#pragma once

#include <QDialog>

struct SharedValues;
class QLabel;

// The output settings dialog. It is created on first use and afterwards only hidden, so its
// choices persist from one cut to the next.
class FormVideoFormat final : public QDialog
{
    Q_OBJECT
public:
    FormVideoFormat(SharedValues &shared, QWidget *parent);

    // Shows the dialog modally with what the cut hands over.
    int showForCut();

private:
    SharedValues &m_shared;
    QLabel *m_summary = nullptr;
};
