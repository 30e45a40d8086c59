#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace quenda::editor {

// The pieces both editors are made of.
// The header: the title in headline style over its explanation.
QWidget* header(const QString& title, const QString& explanation);
// The empty state: a large symbol, the headline and the hint, centred.
QWidget* emptyState(const QString& symbol, const QString& title, const QString& hint);
// A scrolling list whose rows go into `rows`.
QScrollArea* list(QVBoxLayout** rows);
// A row's delete button: a red trash can, named for what it deletes.
QPushButton* deleteButton(const QString& what);
void clearRows(QVBoxLayout* rows);

} // namespace quenda::editor
