// The directory tree on temporary directory trees: nodes, images, paths,
// expansion and collapse through real clicks and keys.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QToolTip>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/widgets/explorer_tree.h"
#include "ui/window/mainform.h"
#include "ui_test_support.h"
#include "ui/widgets/path_label.h"

namespace toka::test {

namespace {

QStringList childTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
    texts.sort();
    return texts;
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == text) return node->child(i);
    return nullptr;
}

} // namespace

class TestExplorer : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TMainForm> m_form;
    QTemporaryDir m_dir;
    QString m_root; // without a trailing "/"

    TMainForm& formOnTree() {
        shownMainForm(m_form);
        m_form->FillDrives({volumeAt(m_root.toStdString(), VolumeKind::Fixed)});
        m_form->Explorer()->setFocus();
        return *m_form;
    }

    // Selects a node with a click, as the user does.
    void click(QTreeWidgetItem* node) {
        QTreeWidget* tree = m_form->Explorer();
        tree->scrollToItem(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(node).center());
    }

    // Opens or closes the selected node with the keyboard.
    void expand(QTreeWidgetItem* node) {
        click(node);
        QTest::keyClick(m_form->Explorer(), Qt::Key_Right);
        QVERIFY(node->isExpanded() || node->childCount() == 0);
    }
    void collapse(QTreeWidgetItem* node) {
        click(node);
        QTest::keyClick(m_form->Explorer(), Qt::Key_Left);
        QVERIFY(!node->isExpanded());
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path();
        mkdirp(m_root + "/alpha/inner/deep");
        mkdirp(m_root + "/beta");
        mkdirp(m_root + "/.hidden/sub");
        touch(m_root + "/file.txt");
        touch(m_root + "/alpha/notes.txt");
        QVERIFY(symlink("alpha", QFile::encodeName(m_root + "/link").constData()) == 0);
        // A name that is not UTF-8: Latin-1 "café".
        const QByteArray latin1 = QFile::encodeName(m_root) + "/caf\xe9";
        QVERIFY(mkdir(latin1.constData(), 0755) == 0);
    }
    void cleanup() { m_form.reset(); }
    void cleanupTestCase() {
        // QDir cannot name the Latin-1 directory; remove it by its bytes.
        QVERIFY(rmdir((QFile::encodeName(m_root) + "/caf\xe9").constData()) == 0);
    }

    // A directory that does not answer (a hung mount) holds its listing's
    // thread, not the window: timers fire on time, the node keeps its
    // expand button, and its children come when the listing answers.
    void aListingThatBlocksNeverHoldsTheWindow() {
        TMainForm& form = formOnTree();
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        auto held = std::make_shared<std::atomic<bool>>(true);
        form.setTreeListingObserver([held](const std::string&) {
            for (int waited = 0; held->load() && waited < 10000; waited += 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        QElapsedTimer clock;
        clock.start();
        expand(root);
        qint64 firedAfter = -1;
        QTimer::singleShot(10, [&] { firedAfter = clock.elapsed(); });
        QTRY_VERIFY_WITH_TIMEOUT(firedAfter >= 0, 5000);
        QVERIFY2(firedAfter < 100, QByteArray::number(firedAfter));
        QCOMPARE(root->childCount(), 1); // the expand button, while the listing waits
        held->store(false);
        QTRY_COMPARE(childTexts(root), (QStringList{"alpha", "beta", "café"}));
        form.setTreeListingObserver({});
    }

    // Children in name order, as file managers show them: case aside,
    // numbers by their value, whatever order the file system lists them in.
    void childrenInNameOrder() {
        QTemporaryDir dir;
        for (const char* name : {"b10", "B2", "a1", "Zeta", "alpha", "b1"})
            QVERIFY(QDir().mkpath(dir.path() + "/" + name));
        shownMainForm(m_form);
        m_form->FillDrives({volumeAt(dir.path().toStdString(), VolumeKind::Fixed)});
        m_form->Explorer()->setFocus();
        QTreeWidgetItem* root = m_form->Explorer()->topLevelItem(0);
        expand(root);
        QStringList shown;
        for (int i = 0; i < root->childCount(); ++i) shown << root->child(i)->text(0);
        QCOMPARE(shown, (QStringList{"a1", "alpha", "b1", "B2", "b10", "Zeta"}));
    }

    void volumes_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("image");
        QTest::newRow("fixed: hard disk") << int(VolumeKind::Fixed) << 1;
        QTest::newRow("RAM disk: hard disk") << int(VolumeKind::RamDisk) << 1;
        QTest::newRow("CD-ROM") << int(VolumeKind::CdRom) << 2;
        QTest::newRow("remote: network drive") << int(VolumeKind::Remote) << 3;
        QTest::newRow("removable") << int(VolumeKind::Removable) << 4;
    }

    void volumes() {
        QFETCH(int, kind);
        QFETCH(int, image);
        TMainForm& form = formOnTree();
        form.FillDrives({volumeAt("/", VolumeKind::Fixed), volumeAt(m_root.toStdString(), VolumeKind(kind))});
        QCOMPARE(form.Explorer()->topLevelItemCount(), 2);
        QTreeWidgetItem* node = form.Explorer()->topLevelItem(1);
        QCOMPARE(node->text(0), m_root);
        QCOMPARE(nodeImage(node), image);
        QCOMPARE(node->childCount(), 1); // an expand button before anything is read
        expand(node);
        QCOMPARE(nodeImage(node), image); // a volume keeps its picture when opened
        collapse(node);
        QCOMPARE(nodeImage(node), image);
    }

    void expansion_listsVisibleDirectoriesOnly() {
        TMainForm& form = formOnTree();
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        expand(root);
        // No file, no hidden directory, no link to a directory, no "." or "..".
        QCOMPARE(childTexts(root), (QStringList{"alpha", "beta", "café"}));
        for (int i = 0; i < root->childCount(); ++i) {
            QCOMPARE(nodeImage(root->child(i)), int(ClosedFolderImage));
            QCOMPARE(root->child(i)->childCount(), 1);
            QCOMPARE(root->child(i)->child(0)->text(0), QString("y"));
        }
    }

    void folderImages_followExpansion() {
        TMainForm& form = formOnTree();
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        expand(root);
        QTreeWidgetItem* alpha = childNamed(root, "alpha");
        QVERIFY(alpha);
        expand(alpha);
        QCOMPARE(nodeImage(alpha), int(OpenFolderImage));
        QCOMPARE(childTexts(alpha), QStringList{"inner"});
        collapse(alpha);
        QCOMPARE(nodeImage(alpha), int(ClosedFolderImage));
        QCOMPARE(childTexts(alpha), QStringList{"inner"}); // kept until the next expansion
    }

    void emptyDirectory_losesItsExpandButton() {
        TMainForm& form = formOnTree();
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        expand(root);
        QTreeWidgetItem* beta = childNamed(root, "beta");
        QCOMPARE(beta->childCount(), 1);
        expand(beta);
        QCOMPARE(beta->childCount(), 0);
        QCOMPARE(form.Explorer()->itemAt(form.Explorer()->visualItemRect(beta).center())->childCount(), 0);
    }

    void missingVolume_showsNoChildAndNoMessage() {
        TMainForm& form = formOnTree();
        form.FillDrives({volumeAt("/no/such/mount", VolumeKind::CdRom)});
        QTreeWidgetItem* node = form.Explorer()->topLevelItem(0);
        expand(node);
        QCOMPARE(node->childCount(), 0);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void directoryCreatedAfterExpansion_appearsOnReexpansion() {
        TMainForm& form = formOnTree();
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        expand(root);
        QTreeWidgetItem* beta = childNamed(root, "beta");
        expand(beta);
        mkdirp(m_root + "/beta/gamma");
        QCOMPARE(beta->childCount(), 0);
        collapse(root);
        expand(root);
        beta = childNamed(root, "beta");
        QCOMPARE(beta->childCount(), 1); // the placeholder again
        expand(beta);
        QCOMPARE(childTexts(beta), QStringList{"gamma"});
        QVERIFY(QDir(m_root + "/beta/gamma").removeRecursively());
    }

    void paths_data() {
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<QByteArray>("suffix");
        QTest::newRow("volume") << QStringList{} << QByteArray("/");
        QTest::newRow("one level") << QStringList{"alpha"} << QByteArray("/alpha/");
        QTest::newRow("three levels") << QStringList{"alpha", "inner", "deep"} << QByteArray("/alpha/inner/deep/");
        // The bytes of the name, not its decoded display text.
        QTest::newRow("name that is not UTF-8") << QStringList{"café"} << QByteArray("/caf\xe9/");
    }

    void paths() {
        QFETCH(QStringList, nodes);
        QFETCH(QByteArray, suffix);
        TMainForm& form = formOnTree();
        QCOMPARE(form.StatusPanel()->lCurrentDir()->text(), QString(PathLabel::kPlaceholder));
        QTreeWidgetItem* node = form.Explorer()->topLevelItem(0);
        for (const QString& name : nodes) {
            expand(node);
            node = childNamed(node, name);
            QVERIFY2(node, qPrintable(name));
        }
        click(node);
        const QByteArray expected = QFile::encodeName(m_root) + suffix;
        QCOMPARE(QByteArray::fromStdString(form.selectedDirectory()), expected);
        QCOMPARE(QByteArray::fromStdString(GetNodePath(node)), expected);
        QVERIFY(!form.StatusPanel()->lCurrentDir()->text().contains("//"));
    }

    // The tree's hint is "Directory Explorer"; a node whose name is cut off
    // at the tree's edge shows its path instead.  Both obey View > Show
    // Flyby Hints.
    void hints_data() {
        QTest::addColumn<QString>("over");
        QTest::addColumn<bool>("scrolled"); // sideways to the far end
        QTest::addColumn<bool>("hints");
        QTest::addColumn<QString>("tip"); // "path": the node's path
        QTest::newRow("a whole name") << "short" << false << true << "Directory Explorer";
        QTest::newRow("a name cut at the right") << "long" << false << true << "path";
        QTest::newRow("a name scrolled out at the left") << "short" << true << true << "path";
        QTest::newRow("below the nodes") << "below" << false << true << "Directory Explorer";
        QTest::newRow("hints off: a cut name") << "long" << false << false << "";
        QTest::newRow("hints off: a whole name") << "short" << false << false << "";
    }
    void hints() {
        QFETCH(QString, over);
        QFETCH(bool, scrolled);
        QFETCH(bool, hints);
        QFETCH(QString, tip);
        QTemporaryDir dir;
        const QString longName = "a-folder-whose-name-is-far-wider-than-the-tree-" + QString(40, 'x');
        mkdirp(dir.path() + "/short");
        mkdirp(dir.path() + "/" + longName);
        shownMainForm(m_form);
        m_form->FillDrives({volumeAt(dir.path().toStdString(), VolumeKind::Fixed)});
        if (!hints) m_form->settings().ShowFlybyHints1()->trigger();
        QTreeWidget* tree = m_form->Explorer();
        QTreeWidgetItem* root = tree->topLevelItem(0);
        tree->expandItem(root);
        QTreeWidgetItem* node = childNamed(root, over == "long" ? longName : "short");
        QVERIFY(node);
        QTRY_VERIFY(tree->horizontalScrollBar()->maximum() > 0);
        if (scrolled) tree->horizontalScrollBar()->setValue(tree->horizontalScrollBar()->maximum());
        // A point of the node's row inside the tree, or below the last node.
        const QRect row = tree->visualItemRect(over == "below" ? childNamed(root, "short") : node);
        const QPoint at =
            over == "below" ? QPoint(5, row.bottom() + 20)
                            : QPoint(std::clamp(row.center().x(), 5, tree->viewport()->width() - 5), row.center().y());
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(toolTipAt(tree->viewport(), at), tip == "path" ? QString::fromStdString(GetNodePath(node)) : tip);
    }

    void rootVolume_pathHasOneSlash() {
        TMainForm& form = formOnTree();
        form.FillDrives({volumeAt("/", VolumeKind::Fixed)});
        QTreeWidgetItem* root = form.Explorer()->topLevelItem(0);
        click(root);
        QCOMPARE(form.selectedDirectory(), std::string("/"));
        expand(root);
        QTreeWidgetItem* tmp = childNamed(root, "tmp");
        QVERIFY(tmp);
        click(tmp);
        QCOMPARE(form.selectedDirectory(), std::string("/tmp/"));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestExplorer)
#include "test_explorer.moc"
