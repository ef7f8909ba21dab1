#pragma once
// "Selezionare una cartella": the folder picker of the alarm configuration.

#include <QDialog>

#include <string>

class QPushButton;
class QTreeView;
namespace dialogs {
class FolderTreeModel;
}

class TDlgSelezionaDir : public QDialog {
    Q_OBJECT
public:
    explicit TDlgSelezionaDir(QWidget* parent = nullptr);

    // Set by the caller: the folder shown at opening. After OK: the chosen
    // folder, without a final "/" (only the root itself is "/").
    std::string Cartella;

    QTreeView* TreeView1 = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;

    void OkClick();
    // The selected node's folder; "" when nothing or a node without a path
    // (the computer) is selected.
    std::string SelectedFolder() const;
    // Selects the node of this existing folder, opening the nodes above it,
    // and scrolls to it. False (and nothing selected) when it does not exist.
    bool SelectFolder(const std::string& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateOk();

    dialogs::FolderTreeModel* model_ = nullptr;
};
