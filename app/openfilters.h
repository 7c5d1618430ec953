#pragma once

#include <QStringList>

// The Open dialog's filter list in Qt's syntax, "Description (*.a *.b)", in menu order; the
// first entry is selected when the dialog opens. Show it with
// QFileDialog::HideNameFilterDetails so that only the descriptions appear.
QStringList MediaOpenFilters();
