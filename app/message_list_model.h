// The message list as the grid shows it: one column, one row per entry, and one empty row for the
// empty list.
#pragma once

#include <QAbstractTableModel>

#include "messagelist/message_list.h"

namespace tarvelin {

class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit MessageListModel(const MessageList &list, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Tells the views about the entries appended since the last call, in one batch.
    void Refresh();
    // Tells the views that the list was emptied.
    void Reset();

private:
    const MessageList &list_;
    // What the views were last told, so that appends arrive as one insertion per batch.
    int shownRows_ = 1;
    bool shownEmpty_ = true;
};

}  // namespace tarvelin
