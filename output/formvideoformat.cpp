#include "formvideoformat.h"

#include "sharedvalues.h"
#include "timecode.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

FormVideoFormat::FormVideoFormat(SharedValues &shared, QWidget *parent)
    : QDialog(parent)
    , m_shared(shared)
{
    setObjectName(QStringLiteral("FormVideoFormat"));
    setWindowTitle(QStringLiteral("Output Settings"));
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Summary"));
    layout->addWidget(m_summary);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
}

int FormVideoFormat::showForCut()
{
    m_summary->setText(QStringLiteral("File: %1\nStart: %2 s\nLength: %3 s")
                           .arg(m_shared.InputFilePath, NumberText(m_shared.CutStartSeconds),
                                NumberText(m_shared.CutLengthSeconds)));
    return exec();
}
