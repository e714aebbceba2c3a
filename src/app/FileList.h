// The two file lists of the FTP tab and the rules they share: how an entry is filled from a
// listing record, how entries are ordered, and how a folder entry is recognised.
//
// The image index stored with an entry (0 = folder, 1 = file) is the only record of whether it
// is a folder; ".." carries image 0 and so counts as a folder everywhere.
#pragma once

#include "local/LocalDir.h"

#include <QTreeWidget>
#include <functional>

enum { kImageFolder = 0, kImageFile = 1 };

class TFileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFileList(QWidget* parent = nullptr);

    // Replaces every entry with `records` (filled and sorted once), keeping redraws off meanwhile.
    void SetRecords(const std::vector<TListRecord>& records);
    QList<QTreeWidgetItem*> SelectedInListOrder() const;
    QTreeWidgetItem* FirstSelected() const;

    // Drag and drop between the lists: the window decides what a drop from `source` means.
    std::function<bool(TFileList* self, QObject* source)> OnDragOver;
    std::function<void(TFileList* self, QObject* source)> OnDragDrop;
    // Enter (either key) and Delete pressed in the list; the window decides what they do.
    std::function<void(TFileList* self)> OnEnterKey;
    std::function<void(TFileList* self)> OnDeleteKey;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
};

// Fills an entry from a record: caption, size text (whole 64-bit size, thousands separators),
// time text (local short date + long time, time left out at midnight), image; the size itself
// is kept with the entry (ItemSize).
void FillListItem(QTreeWidgetItem* item, const TListRecord& record);
// Folders first, then captions compared without regard to case by the user's collation.
int ListItemCompare(const QTreeWidgetItem* a, const QTreeWidgetItem* b);
bool IsFolderItem(const QTreeWidgetItem* item);
int ItemImageIndex(const QTreeWidgetItem* item);
uint64_t ItemSize(const QTreeWidgetItem* item);
QString FormatSizeText(uint64_t size);
QString FormatTimeText(uint64_t fileTimeUtc);
