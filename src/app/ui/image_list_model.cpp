// The image list as rows of a table view: one row of data per record, no widget per row.
#include "app/ui/image_list_model.h"

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QLocale>

#include <algorithm>

namespace quill::app::ui {

namespace text = settings::text;

ImageListModel::ImageListModel(QObject* parent) : QAbstractTableModel(parent) {}

ImageRow ImageListModel::rowOf(const imagefiles::ImageRecord& record) {
    ImageRow row;
    row.recordId = record.recordId;
    row.path = QString::fromStdString(record.sourcePath);
    row.folder = QString::fromStdString(record.folder);
    row.name = row.path.mid(row.folder.size());
    row.fileSize = record.fileSize;
    return row;
}

int ImageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ImageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (m_details ? 3 : 1);
}

QVariant ImageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const ImageRow& r = m_rows[std::size_t(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case NameColumn:
            return r.name;
        case FolderColumn:
            return r.folder;
        case SizeColumn:
            return QLocale().formattedDataSize(r.fileSize, 1, QLocale::DataSizeTraditionalFormat);
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole) {
        QString tip = r.path;
        if (r.width > 0) tip += QStringLiteral("\n%1 x %2").arg(r.width).arg(r.height);
        return tip;
    }
    if (role == Qt::UserRole) return r.recordId;
    return {};
}

QVariant ImageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section > 2) return {};
    if (role == Qt::ToolTipRole && !m_headerHint.isEmpty()) return m_headerHint;
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(settings::uiText(text::kNameColumn + section));
}

void ImageListModel::setDetailsView(bool details) {
    if (details == m_details) return;
    beginResetModel();
    m_details = details;
    endResetModel();
}

void ImageListModel::appendRows(std::vector<ImageRow> rows) {
    if (rows.empty()) return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (auto& row : rows) {
        m_rowOfId[row.recordId] = int(m_rows.size());
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

void ImageListModel::resetFrom(const imagefiles::ImageList& list) {
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(list.size());
    for (const auto& record : list.records())
        m_rows.push_back(rowOf(record));
    reindex(0);
    endResetModel();
}

void ImageListModel::reorderLike(const imagefiles::ImageList& list) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<ImageRow> rows;
    rows.reserve(m_rows.size());
    std::vector<std::uint8_t> taken(m_rows.size(), 0);
    for (const auto& record : list.records()) {
        const int at = rowOfId(record.recordId);
        if (at < 0 || taken[std::size_t(at)] != 0) continue;
        taken[std::size_t(at)] = 1;
        rows.push_back(m_rows[std::size_t(at)]);
    }
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (taken[i] == 0) rows.push_back(m_rows[i]);
    // The persistent indexes (the selection, the current row) move with their records.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::int32_t> idsBefore;
    idsBefore.reserve(std::size_t(before.size()));
    for (const QModelIndex& index : before)
        idsBefore.push_back(m_rows[std::size_t(index.row())].recordId);
    m_rows = std::move(rows);
    reindex(0);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(index(rowOfId(idsBefore[std::size_t(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ImageListModel::removeIds(const std::unordered_set<std::int32_t>& ids) {
    if (ids.empty()) return;
    beginResetModel();
    std::erase_if(m_rows, [&](const ImageRow& r) { return ids.count(r.recordId) != 0; });
    reindex(0);
    endResetModel();
}

void ImageListModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_rowOfId.clear();
    endResetModel();
}

void ImageListModel::setDetails(std::int32_t recordId, std::int32_t width, std::int32_t height) {
    const int at = rowOfId(recordId);
    if (at < 0) return;
    ImageRow& r = m_rows[std::size_t(at)];
    r.width = width;
    r.height = height;
    r.detailsScanned = true;
}

int ImageListModel::rowOfId(std::int32_t recordId) const {
    const auto it = m_rowOfId.find(recordId);
    return it == m_rowOfId.end() ? -1 : it->second;
}

void ImageListModel::reindex(std::size_t from) {
    if (from == 0) m_rowOfId.clear();
    for (std::size_t i = from; i < m_rows.size(); ++i)
        m_rowOfId[m_rows[i].recordId] = int(i);
}

} // namespace quill::app::ui
