// The result window: the images a run could not process, why, and where their output went.
#pragma once

#include "imagefiles/image_record.h"
#include "toolkit/qt/text_dialog.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace quill::batch::ui {

/// The help text of the "?" button for the failure kinds (result states 2..8) that occurred:
/// each kind's title and explanation, in increasing order, with the layout of its text dialog.
struct ResultHelp {
    QString text;
    toolkit::qt::TextDialogLayout layout;
};
[[nodiscard]] ResultHelp resultHelp(const std::vector<int>& failureKinds);

/// Lists every record of the list whose result is neither pending nor done. Modeless; it closes
/// with OK, Escape or its close button and then emits finished(). Its columns share the width
/// by their content; Ctrl+C and the Copy button put the whole list on the clipboard.
class ResultWindow : public QDialog {
    Q_OBJECT
public:
    ResultWindow(const imagefiles::ImageList& images, QWidget* parent = nullptr);

    /// The failure kinds that occurred, in increasing order.
    [[nodiscard]] const std::vector<int>& failureKinds() const { return m_kinds; }
    [[nodiscard]] QTreeWidget* list() const { return m_list; }
    /// What a double click on a row does with the row's source path (tests replace it).
    void setShowFile(std::function<void(const std::string&)> showFile) {
        m_showFile = std::move(showFile);
    }
    /// What the "?" button does with the help (tests replace it).
    void setShowHelp(std::function<void(const ResultHelp&)> showHelp) {
        m_showHelp = std::move(showHelp);
    }
    /// The "?" button's action.
    void showHelp();
    /// The whole list as tab-separated lines, the column titles first.
    [[nodiscard]] QString listText() const;
    /// The Copy button's and Ctrl+C's action: listText() to the clipboard.
    void copyList();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildList();
    /// One row per record whose result is a failure; notes the failure kinds that occurred.
    void fillList(const imagefiles::ImageList& images);
    /// The first size: as wide as the columns' content, as far as the screen allows.
    void sizeToContent(const QWidget* parent);
    void rowActivated(QTreeWidgetItem* item);
    /// The width each column's header and cells want.
    [[nodiscard]] int wantedWidth(int column) const;
    /// Gives the columns the list's width: each its wanted width when all fit, else the narrow
    /// ones theirs and the wide ones equal shares of the rest.
    void fitColumns();

    QTreeWidget* m_list = nullptr;
    std::vector<int> m_kinds;
    std::vector<std::string> m_sourcePaths; ///< the rows' paths, as bytes
    std::function<void(const std::string&)> m_showFile;
    std::function<void(const ResultHelp&)> m_showHelp;
};

} // namespace quill::batch::ui
