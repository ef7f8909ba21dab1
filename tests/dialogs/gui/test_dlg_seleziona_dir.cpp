// The folder picker offscreen: preselection, the OK rule, what OK gives back.

#include "dialogs/gui/UDlgSelezionaDir.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class DlgSelezionaDirTest : public ::testing::Test {
protected:
    // Before the dialog: its places are the folders there at its creation.
    bool MakeFolders() {
        std::filesystem::create_directories(Home() + "/Documents/Video/Allarmi");
        // Listed before it, enough to push it below the tree's lower edge.
        for (int day = 1; day <= 31; ++day)
            std::filesystem::create_directory(Home() + "/Documents/Video/Agosto " + std::to_string(day));
        std::filesystem::create_directories(Home() + "/Immagini");
        std::filesystem::create_directories(Home() + "/.nascosta/dentro");
        testsupport::WriteFile(Home() + "/nota.txt", "x");
        return true;
    }
    std::string Home() const { return dir_ / "home"; }
    QModelIndex Find(const QModelIndex& parent, const QString& name) const {
        QAbstractItemModel* model = dlg_.TreeView1->model();
        for (int row = 0; row < model->rowCount(parent); ++row)
            if (model->index(row, 0, parent).data().toString() == name) return model->index(row, 0, parent);
        return {};
    }
    QModelIndex Computer() const { return dlg_.TreeView1->model()->index(0, 0); }
    void Click(const QModelIndex& index, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(dlg_.TreeView1->viewport(), button, {}, dlg_.TreeView1->visualRect(index).center());
    }
    void Show() {
        dlg_.show();
        QApplication::processEvents();
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv home_{"HOME", dir_ / "home"};
    testsupport::ScopedEnv config_{"XDG_CONFIG_HOME", dir_ / "config"};
    bool folders_ = MakeFolders();
    TDlgSelezionaDir dlg_;
};

TEST_F(DlgSelezionaDirTest, ExistingFolderIsShownSelectedAndComesBackWithoutFinalSlash) {
    EXPECT_EQ(dlg_.windowTitle(), "Selezionare una cartella");
    dlg_.Cartella = Home() + "/Documents/Video/Allarmi/";
    Show();
    const QModelIndexList selected = dlg_.TreeView1->selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 1);
    const QModelIndex node = selected.first();
    EXPECT_EQ(node.data().toString(), "Allarmi");
    // Reached through the nearest place, the documents folder, all of it opened.
    EXPECT_EQ(node.parent().parent().data().toString(), "Documents");
    EXPECT_EQ(node.parent().parent().parent(), Computer());
    EXPECT_TRUE(dlg_.TreeView1->isExpanded(node.parent()));
    EXPECT_TRUE(dlg_.TreeView1->viewport()->rect().contains(dlg_.TreeView1->visualRect(node)));
    EXPECT_TRUE(dlg_.OkButton->isEnabled());
    EXPECT_TRUE(dlg_.OkButton->isDefault());

    QTest::mouseClick(dlg_.OkButton, Qt::LeftButton);
    EXPECT_EQ(dlg_.result(), QDialog::Accepted);
    EXPECT_EQ(dlg_.Cartella, Home() + "/Documents/Video/Allarmi");
}

TEST_F(DlgSelezionaDirTest, HiddenFolderOnTheWayStillLeadsToTheGivenFolder) {
    dlg_.Cartella = Home() + "/.nascosta/dentro";
    Show();
    EXPECT_EQ(dlg_.SelectedFolder(), Home() + "/.nascosta/dentro");
    EXPECT_TRUE(Find(Find(Computer(), "Home"), ".nascosta").isValid());
}

TEST_F(DlgSelezionaDirTest, MissingFolderSelectsNothingUntilARealFolderIsChosen) {
    dlg_.Cartella = dir_ / "sparita";
    Show();
    EXPECT_TRUE(dlg_.TreeView1->selectionModel()->selectedIndexes().isEmpty());
    EXPECT_FALSE(dlg_.OkButton->isEnabled());
    EXPECT_TRUE(dlg_.TreeView1->isExpanded(Computer()));

    Click(Computer());  // the computer has no path
    EXPECT_EQ(dlg_.TreeView1->selectionModel()->selectedIndexes().value(0), Computer());
    EXPECT_FALSE(dlg_.OkButton->isEnabled());
    QTest::mouseClick(dlg_.OkButton, Qt::LeftButton);
    EXPECT_TRUE(dlg_.isVisible());

    const QModelIndex home = Find(Computer(), "Home");
    Click(home, Qt::RightButton);
    EXPECT_EQ(dlg_.SelectedFolder(), Home());
    EXPECT_TRUE(dlg_.OkButton->isEnabled());
    // Folders only, hidden ones left out, in name order.
    dlg_.TreeView1->expand(home);
    QStringList names;
    for (int row = 0; row < dlg_.TreeView1->model()->rowCount(home); ++row)
        names << dlg_.TreeView1->model()->index(row, 0, home).data().toString();
    EXPECT_EQ(names, QStringList({"Documents", "Immagini"}));

    QTest::mouseClick(dlg_.OkButton, Qt::LeftButton);
    EXPECT_EQ(dlg_.result(), QDialog::Accepted);
    EXPECT_EQ(dlg_.Cartella, Home());
}

TEST_F(DlgSelezionaDirTest, RootComesBackAsItselfAndAVanishedChoiceIsNotGivenBack) {
    dlg_.Cartella = "/";
    Show();
    EXPECT_EQ(dlg_.TreeView1->selectionModel()->selectedIndexes().value(0), Find(Computer(), "File system"));
    QTest::mouseClick(dlg_.OkButton, Qt::LeftButton);
    EXPECT_EQ(dlg_.Cartella, "/");

    dlg_.Cartella = Home() + "/Immagini";
    Show();
    std::filesystem::remove(Home() + "/Immagini");
    QTest::mouseClick(dlg_.OkButton, Qt::LeftButton);
    EXPECT_TRUE(dlg_.isVisible());
    EXPECT_FALSE(dlg_.OkButton->isEnabled());
    EXPECT_EQ(dlg_.Cartella, Home() + "/Immagini");
}

}  // namespace
