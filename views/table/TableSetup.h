#pragma once

#include <QStringList>

class QTableWidget;
class QTableWidgetItem;
class QTreeWidget;
class QWidget;

// Small helpers shared by the pages of the main window.
namespace TableSetup {

// The rule and gap lists show at least this many rows, empty ones below the entries, and one row
// per entry past it.
constexpr int kFixedRows = 16;

// A read-only table of kFixedRows whole-row-selected rows under the given headers, laid out to fill
// the page.
QTableWidget *addFixedTable(QWidget *page, const QStringList &headers);
// A read-only tree of transfer rows under the given headers, laid out to fill the page. Its
// columns fit the page's width without cutting a text; a page too narrow scrolls sideways.
QTreeWidget *addTransferTree(QWidget *page, const QStringList &headers);
QTableWidgetItem *centredItem(const QString &text);
// The eight column headers of a transfer row.
QStringList transferHeaders();
// The look of the pages' column headers.
QString headerStyleSheet();

} // namespace TableSetup
