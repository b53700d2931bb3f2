#include "contentview.h"

#include "texts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeView>
#include <QStandardPaths>
#include <QGridLayout>
#include <QLabel>

std::optional<QUrl> ContentView::chooseWithDialog(QWidget *parent)
{
    // The desktop's own dialog where it offers one (a portal, GNOME, KDE), else Qt's, which
    // shows the message too. Each choice starts afresh.
    // A mailed zip lands in Downloads; after a choice, its folder is the likelier place for the
    // next one. Kept for this run only.
    static QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QFileDialog dialog(parent, Texts::chooseFirmwareZip, folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(Texts::zipFilter);
    // Qt's own dialog cuts its size, type and date columns short ("191…KiB"): they take what
    // their text needs, the name the rest.
    if (auto *tree = dialog.findChild<QTreeView *>()) {
        QHeaderView *header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        auto *message = new QLabel(Texts::chooserMessage, &dialog);
        message->setWordWrap(true);
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return std::nullopt;
    folder = QFileInfo(urls.first().toLocalFile()).absolutePath();
    return urls.first();
}
