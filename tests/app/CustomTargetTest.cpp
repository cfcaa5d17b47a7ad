#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "AudioFixtures.h"
#include "CustomTargetSheet.h"
#include "MainWindow.h"
#include "TargetFields.h"
#include "TargetsWindow.h"
#include "tavrin/workflow/TargetFiles.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;
using Number = Workflow::CustomNumber;

/// A target of one's own, typed into the sheet, checked, fixed to and remembered.
class CustomTargetTest : public QObject {
    Q_OBJECT

private slots:
    void sheetToFixedCopyAndBackAfterRelaunch() {
        AppFixture f;
        auto window = std::make_unique<MainWindow>(f.model);
        window->show();
        QVERIFY(f.addAndMeasure({f.tone("Episode 12.wav", -23)}));
        window->commands().customTarget->trigger();
        auto* sheet = window->findChild<CustomTargetSheet*>();
        QVERIFY(sheet && sheet->isVisible());

        // Typed into the fields, then OK: the sentences under the fields, empty where none.
        const struct {
            const char* target;
            const char* tolerance;
            const char* ceiling;
            QStringList problems;
        } entries[] = {
            {"-100",
             "9",
             "+1",
             {"The target must be between −50.0 and −5.0 LUFS (it was −100.0).",
              "The tolerance must be between 0.0 and 5.0 LU (it was 9.0).",
              "The true-peak ceiling must be between −20.0 and 0.0 dBTP (it was 1.0)."}},
            {"loud",
             "",
             "-1",
             {"The target needs a number, such as −19.0.",
              "The tolerance needs a number, such as 1.0.", ""}},
            {"−19,04", "1", "-1", {"", "", ""}}, // kept to the tenth every target shows
        };
        const Number numbers[] = {Number::target, Number::tolerance, Number::maxTruePeak};
        for (const auto& entry : entries) {
            const char* typed[] = {entry.target, entry.tolerance, entry.ceiling};
            for (int i = 0; i < 3; ++i) {
                QLineEdit* field = sheet->field(numbers[i]);
                field->clear();
                // Key by key with its text, as keyClicks can't type a true minus sign.
                for (QChar key : QString::fromUtf8(typed[i]))
                    QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(key),
                                        Qt::NoModifier);
            }
            QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
            QStringList shown;
            for (Number number : numbers)
                shown << (sheet->problemLabel(number)->isVisibleTo(sheet)
                              ? sheet->problemLabel(number)->text()
                              : QString());
            QCOMPARE(shown, entry.problems);
        }
        const std::string id = "custom:-19.0:1.0:-1.0";
        QCOMPARE(f.model.specID(), id);
        QCOMPARE(window->presetPicker()->currentText(), "−19.0 LUFS (±1.0 LU, ≤ −1.0 dBTP)");
        QVERIFY(window->commands().customTargets.at(0)->isChecked());

        window->commands().fix->trigger();
        QVERIFY(f.settled());
        const auto* fix = f.model.items()[0].fixFor(id);
        QVERIFY(fix && std::holds_alternative<FileItem::FixState::Done>(fix->value));
        QCOMPARE(std::get<FileItem::FixState::Done>(fix->value).copy,
                 f.path("Episode 12 (−19.0 LUFS).wav"));

        // A second target at the same loudness keeps its own fixes; both are remembered, and an
        // id spoilt in the settings file is left out after a relaunch.
        const std::string other = Workflow::customSpec(-19, 1, -2).id;
        f.model.setSpecID(other);
        QVERIFY(!f.model.items()[0].fixFor(other));
        QStringList stored = f.settings.value("customTargets").toStringList();
        f.settings.setValue("customTargets", stored << "custom:-100.0:1.0:-1.0");
        window.reset();
        AppModel relaunched(f.desktop, &f.settings, 1);
        MainWindow again(relaunched);
        QCOMPARE(relaunched.currentSpec(), *Workflow::customSpecForId(other));
        QCOMPARE(again.commands().customTargets.size(), 2u);
        QCOMPARE(again.commands().customTargets[1]->text(), "−19.0 LUFS (±1.0 LU, ≤ −1.0 dBTP)");
        QCOMPARE(again.presetPicker()->currentText(), "−19.0 LUFS (±1.0 LU, ≤ −2.0 dBTP)");
    }

    void manageTargetsFromNewToExportImportAndRelaunch() {
        AppFixture f;
        auto window = std::make_unique<MainWindow>(f.model);
        window->show();
        QVERIFY(f.addAndMeasure({f.tone("Promo.wav", -23, 4)}));
        QComboBox* box = window->presetPicker();
        emit box->activated(box->findText("Manage Targets…"));
        auto* targets = window->findChild<TargetsWindow*>();
        QVERIFY(targets && targets->isVisible() && !targets->deleteButton()->isEnabled());
        const auto problemsOf = [&f] { return f.model.verdict(f.model.items()[0])->problems; };

        // A new target, named and limited, then chosen like a preset: the limit fails the file.
        QTest::mouseClick(targets->newButton(), Qt::LeftButton);
        targets->nameField()->setText("Network X & promos");
        targets->fields()->field(Number::maxShortTerm)->setText("-30");
        emit targets->fields()->edited();
        QTest::mouseClick(targets->saveButton(), Qt::LeftButton);
        const std::string id = "target:Network X & promos";
        QCOMPARE(targets->list()->currentItem()->text(), "Network X & promos");
        QCOMPARE(window->commands().customTargets.back()->text(), "Network X && promos");
        window->commands().customTargets.back()->trigger();
        QCOMPARE(box->currentText(), "Network X & promos");
        QCOMPARE(problemsOf(), std::vector<std::string>{
                                   "maximum short-term loudness −23.0 LUFS is over −30.0 LUFS"});

        // A wrong edit stays to say why; a right one re-judges the list at once.
        targets->fields()->field(Number::tolerance)->setText("9");
        emit targets->fields()->edited();
        QVERIFY(!targets->save());
        QVERIFY(targets->fields()->problemLabel(Number::tolerance)->isVisibleTo(targets));
        targets->fields()->field(Number::tolerance)->setText("1");
        targets->fields()->field(Number::maxShortTerm)->clear();
        QVERIFY(targets->save());
        QVERIFY(problemsOf().empty());

        // Exported, imported back beside it when different, and a file that isn't a target.
        f.desktop.saveAs = f.path("promos.json");
        QTest::mouseClick(targets->exportButton(), Qt::LeftButton);
        QCOMPARE(Workflow::readTargetFile(*f.desktop.saveAs), f.model.currentSpec());
        writeBytes(*f.desktop.saveAs,
                   R"({"version": 1, "name": "Network X & promos", "target": -18,
                       "tolerance": 1, "maxTruePeak": -2})");
        f.desktop.openFile = f.desktop.saveAs;
        QTest::mouseClick(targets->importButton(), Qt::LeftButton);
        QCOMPARE(targets->list()->currentItem()->text(), "Network X & promos 2");
        writeBytes(*f.desktop.openFile, "{}");
        QTest::mouseClick(targets->importButton(), Qt::LeftButton);
        QCOMPARE(f.model.alert()->message,
                 "promos.json isn’t a target Tavrin can use: Its “version” isn’t 1, the only "
                 "version this Tavrin reads.");

        // Kept across a relaunch; deleting the current one goes back to the default preset.
        targets->close();
        window.reset();
        AppModel relaunched(f.desktop, &f.settings, 1);
        QCOMPARE(relaunched.namedTargets().size(), 2u);
        QCOMPARE(relaunched.specID(), id);
        relaunched.removeNamedTarget(id);
        QCOMPARE(relaunched.currentSpec(), DeliverySpec::ebuR128());
    }
};

TAVRIN_APP_TEST(CustomTargetTest);
#include "CustomTargetTest.moc"
