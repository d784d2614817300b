// The folder prompt over the window: a modal folder chooser with the message and "Allow".

#include "engine/Diagnostics.h"
#include "platform/FolderAccess.h"
#include "tests/support/TempDir.h"
#include "ui/QtFolderPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

FolderPromptRequest requestFor(const fs::path& folder) {
    return FolderPromptRequest{std::string(FolderAccess::promptMessage), std::string(FolderAccess::promptConfirmTitle),
                               folder};
}

// Answers the next modal folder chooser once it is on screen.
void answerChooser(std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return answerChooser(answer);  // not shown yet
        answer(*dialog);
    });
}

}  // namespace

class FolderPromptTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Diagnostics::setSink({}); }

    void theChooserAsksForOneFolderWithTheMessageAndAllow() {
        test::TempDir dir;
        QWidget window;
        const auto dialog = QtFolderPrompt::makeDialog(requestFor(dir.path()), &window);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(dialog->testOption(QFileDialog::ReadOnly));  // no new folders
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Allow"));
        QCOMPARE(fs::path(dialog->directory().absolutePath().toStdString()), dir.path());
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        auto* message = dialog->findChild<QLabel*>(QStringLiteral("folderPromptMessage"));
        QVERIFY(message);
        QCOMPARE(message->text(), QStringLiteral("This app needs access to the folder containing your XMP sidecar so it "
                                                 "can read and update it."));
    }

    void theChosenFolderIsTheAnswer() {
        test::TempDir dir;
        const fs::path start = dir.path() / "photos";
        const fs::path other = dir.path() / "other";
        fs::create_directories(start);
        fs::create_directories(other);
        QtFolderPrompt prompt(nullptr);

        answerChooser([start](QFileDialog& dialog) {
            QCOMPARE(fs::path(dialog.directory().absolutePath().toStdString()), start);
            static_cast<QDialog&>(dialog).accept();  // as the Allow button does
        });
        QCOMPARE(prompt.chooseFolder(requestFor(start)), std::optional<fs::path>(start));

        // The user may pick another folder than the one proposed.
        answerChooser([other](QFileDialog& dialog) {
            dialog.setDirectory(QString::fromStdString(other.string()));
            static_cast<QDialog&>(dialog).accept();  // as the Allow button does
        });
        QCOMPARE(prompt.chooseFolder(requestFor(start)), std::optional<fs::path>(other));
    }

    void cancellingGivesNoFolder() {
        test::TempDir dir;
        QtFolderPrompt prompt(nullptr);
        answerChooser([](QFileDialog& dialog) { dialog.reject(); });
        QVERIFY(!prompt.chooseFolder(requestFor(dir.path())));
    }
};

QTEST_MAIN(FolderPromptTest)
#include "FolderPromptTest.moc"
