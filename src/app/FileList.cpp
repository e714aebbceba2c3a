#include "app/FileList.h"

#include <QApplication>
#include <QCollator>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QStyle>
#include <algorithm>
#include <ctime>

namespace {

const QLocale& DisplayLocale() {
    // Kept between calls: a list of 100,000 entries would otherwise build two locales per entry.
    // Rebuilt when the default locale changes, so the lists follow it.
    static QLocale source(QLocale::c());
    static QLocale display(QLocale::English, QLocale::UnitedStates);
    const QLocale current;
    if (current != source) {
        source = current;
        // The C locale has no digit grouping; English keeps the "1,234" form in that case.
        display =
            current.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : current;
    }
    return display;
}

const QIcon& ListIcon(int index) {
    static const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    static const QIcon file = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return index == kImageFolder ? folder : file;
}

} // namespace

QString FormatSizeText(uint64_t size) {
    return DisplayLocale().toString(static_cast<qulonglong>(size));
}

QString FormatTimeText(uint64_t fileTimeUtc) {
    if (fileTimeUtc == 0) return QString();
    // localtime_r reads the zone once per process; QDateTime::toLocalTime re-reads the zone
    // file for every entry, which dominated the filling of long lists.
    const std::time_t seconds = static_cast<std::time_t>(FileTimeToUnixTime(fileTimeUtc));
    std::tm tm{};
    if (!localtime_r(&seconds, &tm)) return QString();
    const QDate date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const QTime t(tm.tm_hour, tm.tm_min, tm.tm_sec < 60 ? tm.tm_sec : 59,
                  static_cast<int>((fileTimeUtc / 10000) % 1000));
    if (!date.isValid() || !t.isValid()) return QString();
    const QLocale& loc = DisplayLocale();
    QString text = loc.toString(date, QLocale::ShortFormat);
    if (t != QTime(0, 0)) {
        // The long time form without the zone name, which the lists have no room for.
        static const QString fmt = [&] {
            QString f = loc.timeFormat(QLocale::LongFormat);
            f.remove(QLatin1Char('t')).replace("  ", " ");
            return f.trimmed();
        }();
        text += " " + loc.toString(t, fmt);
    }
    return text;
}

void FillListItem(QTreeWidgetItem* item, const TListRecord& record) {
    const bool folder = (record.Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0;
    item->setText(0, QString::fromStdString(record.Name));
    item->setText(1, folder ? QString() : FormatSizeText(record.Size));
    item->setText(2, FormatTimeText(record.LastWriteTime));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    const int image = folder ? kImageFolder : kImageFile;
    item->setData(0, Qt::UserRole, image);
    item->setData(1, Qt::UserRole, static_cast<qulonglong>(record.Size));
    item->setIcon(0, ListIcon(image));
}

int ItemImageIndex(const QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole).toInt();
}

uint64_t ItemSize(const QTreeWidgetItem* item) {
    return item->data(1, Qt::UserRole).toULongLong();
}

bool IsFolderItem(const QTreeWidgetItem* item) {
    return item && ItemImageIndex(item) == kImageFolder;
}

int ListItemCompare(const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    const bool fa = IsFolderItem(a), fb = IsFolderItem(b);
    if (fa != fb) return fa ? -1 : 1;
    static thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator.compare(a->text(0), b->text(0));
}

TFileList::TFileList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(3);
    setHeaderLabels({"Name", "Size", "Modified"});
    header()->resizeSection(0, 100);
    header()->resizeSection(1, 75);
    header()->resizeSection(2, 125);
    headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    header()->setSectionsMovable(false);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(24, 24));
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Grid lines between rows and columns, as a report view shows them.
    setStyleSheet("QTreeView::item { border-right: 1px solid palette(midlight); "
                  "border-bottom: 1px solid palette(midlight); }");
}

void TFileList::SetRecords(const std::vector<TListRecord>& records) {
    // Sorted as records, on sort keys made once per name: comparing the entries themselves
    // would read each one's data back through the item on every comparison, which made a
    // listing of 100,000 entries hold the window for seconds. The order is ListItemCompare's.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    struct TKey {
        bool Folder;
        QCollatorSortKey Name;
        std::size_t Index;
    };
    std::vector<TKey> keys;
    keys.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        keys.push_back({(records[i].Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0,
                        collator.sortKey(QString::fromStdString(records[i].Name)), i});
    std::stable_sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
        if (a.Folder != b.Folder) return a.Folder;
        return a.Name.compare(b.Name) < 0;
    });
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(records.size()));
    for (const TKey& k : keys) {
        auto* item = new QTreeWidgetItem;
        FillListItem(item, records[k.Index]);
        items.append(item);
    }
    setUpdatesEnabled(false);
    clear();
    addTopLevelItems(items);
    setUpdatesEnabled(true);
}

QList<QTreeWidgetItem*> TFileList::SelectedInListOrder() const {
    QList<QTreeWidgetItem*> result;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) result.append(topLevelItem(i));
    return result;
}

QTreeWidgetItem* TFileList::FirstSelected() const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) return topLevelItem(i);
    return nullptr;
}

void TFileList::keyPressEvent(QKeyEvent* e) {
    const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && OnEnterKey) {
        e->accept();
        OnEnterKey(this);
        return;
    }
    if (plain && e->key() == Qt::Key_Delete && OnDeleteKey) {
        e->accept();
        OnDeleteKey(this);
        return;
    }
    QTreeWidget::keyPressEvent(e);
}

void TFileList::dragEnterEvent(QDragEnterEvent* e) {
    if (OnDragOver && OnDragOver(this, e->source()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void TFileList::dragMoveEvent(QDragMoveEvent* e) {
    if (OnDragOver && OnDragOver(this, e->source()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void TFileList::dropEvent(QDropEvent* e) {
    if (!OnDragOver || !OnDragOver(this, e->source())) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    if (OnDragDrop) OnDragDrop(this, e->source());
}
