// The image list as rows of a table view: one row of data per record, no widget per row.
#pragma once

#include "imagefiles/image_record.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quill::app::ui {

/// What a row shows of its record. The model keeps its own copy so that the view never reads the
/// image list while a loader thread appends to it.
struct ImageRow {
    std::int32_t recordId = 0;
    QString name;   ///< file name with extension
    QString folder; ///< folder, ending with "/"
    QString path;   ///< full source path, for opening the file
    std::int64_t fileSize = 0;
    std::int32_t width = 0; ///< from the background scan of image details; 0 = not scanned
    std::int32_t height = 0;
    bool detailsScanned = false;
};

/// Columns: name, folder and size; with the compact display only the name.
class ImageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, FolderColumn, SizeColumn };
    explicit ImageListModel(QObject* parent = nullptr);

    [[nodiscard]] static ImageRow rowOf(const imagefiles::ImageRecord& record);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Shows three columns when set, only the name otherwise.
    void setDetailsView(bool details);
    void appendRows(std::vector<ImageRow> rows);
    /// Replaces every row by the records of `list`.
    void resetFrom(const imagefiles::ImageList& list);
    void removeIds(const std::unordered_set<std::int32_t>& ids);
    void clear();
    /// Puts the rows into the order of the records of `list`, keeping what each row shows and
    /// the view's selection (rows whose record is not in `list` go last).
    void reorderLike(const imagefiles::ImageList& list);
    /// The tooltip of the column headers.
    void setHeaderHint(const QString& hint) { m_headerHint = hint; }
    /// Writes the scanned size of a record into its row.
    void setDetails(std::int32_t recordId, std::int32_t width, std::int32_t height);

    [[nodiscard]] const ImageRow& row(int index) const { return m_rows[std::size_t(index)]; }
    [[nodiscard]] const std::vector<ImageRow>& rows() const { return m_rows; }
    /// Row of a record, or -1.
    [[nodiscard]] int rowOfId(std::int32_t recordId) const;

private:
    void reindex(std::size_t from);
    std::vector<ImageRow> m_rows;
    std::unordered_map<std::int32_t, int> m_rowOfId;
    bool m_details = true;
    QString m_headerHint;
};

} // namespace quill::app::ui
