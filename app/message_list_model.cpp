#include "app/message_list_model.h"

#include <QBrush>
#include <QColor>
#include <QFile>
#include <limits>

#include "app/qt_paths.h"

namespace tarvelin {

namespace {

const QColor kCellColour(255, 255, 191);

int ClampedRows(std::size_t rows) {
    // A view counts rows in an int.
    return rows > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(rows);
}

}  // namespace

MessageListModel::MessageListModel(const MessageList &list, QObject *parent)
    : QAbstractTableModel(parent), list_(list) {
    shownRows_ = ClampedRows(list_.RowCount());
    shownEmpty_ = list_.IsEmpty();
}

int MessageListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int MessageListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant MessageListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= shownRows_) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        if (shownEmpty_) return QString();
        const std::string_view text = list_.RowText(static_cast<std::size_t>(index.row()));
        return QStringFromCorePath(text);
    }
    case Qt::BackgroundRole:
        return QBrush(kCellColour);
    default:
        return {};
    }
}

Qt::ItemFlags MessageListModel::flags(const QModelIndex &index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void MessageListModel::Refresh() {
    const int rows = ClampedRows(list_.RowCount());
    const bool empty = list_.IsEmpty();
    if (rows < shownRows_ || (empty && !shownEmpty_)) {
        Reset();
        return;
    }
    if (shownEmpty_ && !empty) {
        // The empty row 0 now holds the first entry.
        shownEmpty_ = false;
        emit dataChanged(index(0, 0), index(0, 0));
    }
    if (rows > shownRows_) {
        beginInsertRows(QModelIndex(), shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    }
}

void MessageListModel::Reset() {
    beginResetModel();
    shownRows_ = ClampedRows(list_.RowCount());
    shownEmpty_ = list_.IsEmpty();
    endResetModel();
}

}  // namespace tarvelin
