#include "dialogs/gui/UDlgSelezionaDir.h"

#include "dialogs/FolderTree.h"
#include "dialogs/gui/DialogSupport.h"
#include "platform/KnownFolders.h"

#include <QAbstractItemModel>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QPushButton>
#include <QTreeView>

#include <cstdlib>
#include <memory>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace dialogs {

// The computer as a node without a path, above the user's home, documents
// and the file system's root. Each folder lists its subfolders the first
// time it is opened; nothing is watched, so what the tree shows is what was
// there then.
class FolderTreeModel : public QAbstractItemModel {
public:
    explicit FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {
        root_.loaded = true;
        auto computer = std::make_unique<Node>();
        computer->name = QStringLiteral("Computer");
        computer->icon = icons_.icon(QFileIconProvider::Computer);
        computer->hasIcon = true;
        computer->loaded = true;
        computer_ = Adopt(&root_, std::move(computer));

        const std::string home = NormalFolderPath(HomeFolder());
        const std::string documents = NormalFolderPath(platform::PersonalDocumentsFolder(false));
        if (!home.empty() && home != "/" && platform::DirectoryExists(home))
            AddPlace(QStringLiteral("Home"), home);
        if (!documents.empty() && documents != home && documents != "/" && platform::DirectoryExists(documents))
            AddPlace(QFileInfo(QString::fromStdString(documents)).fileName(), documents);
        AddPlace(QStringLiteral("File system"), "/");
    }

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        const Node* p = NodeOf(parent);
        if (column != 0 || row < 0 || row >= static_cast<int>(p->children.size())) return {};
        return createIndex(row, 0, p->children[row].get());
    }
    QModelIndex parent(const QModelIndex& child) const override {
        if (!child.isValid()) return {};
        const Node* p = NodeOf(child)->parent;
        return p == &root_ ? QModelIndex() : createIndex(p->row, 0, const_cast<Node*>(p));
    }
    int rowCount(const QModelIndex& parent) const override {
        if (parent.column() > 0) return 0;
        return static_cast<int>(NodeOf(parent)->children.size());
    }
    int columnCount(const QModelIndex&) const override { return 1; }

    bool hasChildren(const QModelIndex& parent) const override {
        Node* n = NodeOf(parent);
        if (n->loaded) return !n->children.empty();
        if (!n->hasSubfolders) n->hasSubfolders = HasSubfolder(n->path);
        return *n->hasSubfolders;
    }
    bool canFetchMore(const QModelIndex& parent) const override { return !NodeOf(parent)->loaded; }
    void fetchMore(const QModelIndex& parent) override { Load(parent); }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        Node* n = NodeOf(index);
        switch (role) {
        case Qt::DisplayRole:
            return n->name;
        case Qt::ToolTipRole:
            return n->path.empty() ? QVariant() : QVariant(QString::fromStdString(n->path));
        case Qt::DecorationRole:
            if (!n->hasIcon) {
                n->icon = icons_.icon(QFileInfo(QString::fromStdString(n->path)));
                n->hasIcon = true;
            }
            return n->icon;
        default:
            return {};
        }
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QModelIndex Computer() const { return createIndex(0, 0, computer_); }
    std::string PathOf(const QModelIndex& index) const { return index.isValid() ? NodeOf(index)->path : ""; }

    // The node of `path` (normal, existing), listing the folders on the way;
    // a hidden folder on the way gets its node then. Invalid when no place holds it.
    QModelIndex Reveal(const std::string& path) {
        Node* place = nullptr;
        std::vector<std::string> steps;
        for (const auto& candidate : computer_->children) {
            auto below = StepsBelow(candidate->path, path);
            // The nearest place wins: documents before home before the root.
            if (below && (!place || below->size() < steps.size())) {
                place = candidate.get();
                steps = std::move(*below);
            }
        }
        if (!place) return {};
        QModelIndex at = createIndex(place->row, 0, place);
        for (const std::string& name : steps) {
            Load(at);
            Node* n = NodeOf(at);
            Node* next = nullptr;
            for (const auto& c : n->children)
                if (c->leaf == name) next = c.get();
            if (!next) {
                const std::string folder = JoinFolder(n->path, name);
                if (!platform::DirectoryExists(folder)) return {};
                next = InsertChild(at, name, folder);
            }
            at = createIndex(next->row, 0, next);
        }
        return at;
    }

private:
    struct Node {
        QString name;
        std::string leaf;  // the folder's own name, as the file system has it
        std::string path;  // "" for the computer
        Node* parent = nullptr;
        int row = 0;
        std::vector<std::unique_ptr<Node>> children;
        bool loaded = false;
        std::optional<bool> hasSubfolders;
        QIcon icon;
        bool hasIcon = false;
    };

    static std::string HomeFolder() {
        if (const char* home = std::getenv("HOME"); home && *home) return home;
        const passwd* pw = ::getpwuid(::getuid());
        return pw && pw->pw_dir ? pw->pw_dir : "";
    }

    Node* NodeOf(const QModelIndex& index) const {
        return index.isValid() ? static_cast<Node*>(index.internalPointer()) : const_cast<Node*>(&root_);
    }

    static Node* Adopt(Node* parent, std::unique_ptr<Node> child) {
        child->parent = parent;
        child->row = static_cast<int>(parent->children.size());
        parent->children.push_back(std::move(child));
        return parent->children.back().get();
    }

    void AddPlace(const QString& name, const std::string& path) {
        auto n = std::make_unique<Node>();
        n->name = name;
        n->path = path;
        Adopt(computer_, std::move(n));
    }

    void Load(const QModelIndex& parent) {
        Node* n = NodeOf(parent);
        if (n->loaded) return;
        n->loaded = true;
        const std::vector<std::string> names = SubfolderNames(n->path);
        n->hasSubfolders = !names.empty();
        if (names.empty()) return;
        beginInsertRows(parent, 0, static_cast<int>(names.size()) - 1);
        for (const std::string& name : names) {
            auto child = std::make_unique<Node>();
            child->name = QString::fromStdString(name);
            child->leaf = name;
            child->path = JoinFolder(n->path, name);
            Adopt(n, std::move(child));
        }
        endInsertRows();
    }

    // A folder the listing did not show (hidden, or made since), in its place.
    Node* InsertChild(const QModelIndex& parent, const std::string& name, const std::string& path) {
        Node* n = NodeOf(parent);
        int row = 0;
        while (row < static_cast<int>(n->children.size()) &&
               FolderLess(n->children[row]->leaf, name))
            ++row;
        beginInsertRows(parent, row, row);
        auto child = std::make_unique<Node>();
        child->name = QString::fromStdString(name);
        child->leaf = name;
        child->path = path;
        child->parent = n;
        n->children.insert(n->children.begin() + row, std::move(child));
        for (int i = row; i < static_cast<int>(n->children.size()); ++i) n->children[i]->row = i;
        n->hasSubfolders = true;
        endInsertRows();
        return n->children[row].get();
    }

    QFileIconProvider icons_;
    Node root_;
    Node* computer_ = nullptr;
};

}  // namespace dialogs

TDlgSelezionaDir::TDlgSelezionaDir(QWidget* parent) : QDialog(parent) {
    setObjectName("TDlgSelezionaDir");
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    dialogs::MakeFixedDialog(this, QStringLiteral("Selezionare una cartella"), 320, 380);

    model_ = new dialogs::FolderTreeModel(this);
    TreeView1 = new QTreeView(this);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setGeometry(8, 8, 304, 326);
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(false);  // the computer alone at the top, without a branch
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setModel(model_);
    TreeView1->expand(model_->Computer());
    // The chosen folder stays marked while the buttons have the focus.
    QPalette pal = TreeView1->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    TreeView1->setPalette(pal);
    // A right-click selects as a left one does: the view's own behaviour.

    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setObjectName("OkButton");
    OkButton->setGeometry(152, 346, 75, 25);
    OkButton->setDefault(true);
    OkButton->setEnabled(false);
    CancelButton = new QPushButton(QStringLiteral("Annulla"), this);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setGeometry(237, 346, 75, 25);

    connect(TreeView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateOk(); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TDlgSelezionaDir::SelectedFolder() const {
    const QModelIndexList selected = TreeView1->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? std::string() : model_->PathOf(selected.first());
}

bool TDlgSelezionaDir::SelectFolder(const std::string& path) {
    const std::string folder = dialogs::NormalFolderPath(path);
    const QModelIndex index = folder.empty() || !platform::DirectoryExists(folder) ? QModelIndex()
                                                                                   : model_->Reveal(folder);
    if (!index.isValid()) {
        TreeView1->selectionModel()->clear();
        UpdateOk();
        return false;
    }
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) TreeView1->expand(up);
    TreeView1->setCurrentIndex(index);
    TreeView1->scrollTo(index);
    UpdateOk();
    return true;
}

void TDlgSelezionaDir::OkClick() {
    const std::string folder = SelectedFolder();
    // The folder may have gone since it was chosen: then there is nothing to give back.
    if (folder.empty() || !platform::DirectoryExists(folder)) {
        UpdateOk();
        return;
    }
    Cartella = folder;
    accept();
}

void TDlgSelezionaDir::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!Cartella.empty()) SelectFolder(Cartella);
}

void TDlgSelezionaDir::UpdateOk() {
    const std::string folder = SelectedFolder();
    OkButton->setEnabled(!folder.empty() && platform::DirectoryExists(folder));
}
