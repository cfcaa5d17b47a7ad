#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "CustomTargetSheet.h"
#include "MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
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
};

TAVRIN_APP_TEST(CustomTargetTest);
#include "CustomTargetTest.moc"
