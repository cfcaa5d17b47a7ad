#pragma once

#include "tavrin/workflow/CustomTargets.h"

#include <QWidget>
#include <array>
#include <optional>

class QGridLayout;
class QLabel;
class QLineEdit;

namespace tavrin::app {

/// What a person typed as a number: "−19", "-19", "+1" and "0,5" all count. Every target is shown
/// with one decimal, so that is what it keeps; two targets that look alike are alike.
std::optional<double> typedNumber(QString text);

/// A target's number fields, a caption and unit beside each and under each the sentence that says
/// what is wrong with it. A mistake is pointed out when its field is left, and the sentence goes
/// as soon as it is put right, so typing "-1" on the way to "-19" says nothing.
class TargetFields : public QWidget {
    Q_OBJECT

public:
    explicit TargetFields(QWidget* parent = nullptr);

    /// Adds the field for `number`; an optional one may be left empty, meaning no such limit.
    void addRow(Workflow::CustomNumber number, std::optional<double> value, bool optional = false);
    void setValue(Workflow::CustomNumber number, std::optional<double> value);
    QLineEdit* field(Workflow::CustomNumber number) const;
    /// The sentence under the field; hidden while the field is fine.
    QLabel* problemLabel(Workflow::CustomNumber number) const;

    /// The field's number as typed, absent when it holds none (an empty optional field).
    std::optional<double> value(Workflow::CustomNumber number) const;
    /// Whether the field is fine; false after saying what is wrong under it.
    bool check(Workflow::CustomNumber number);
    /// Checks every field; false after moving to the first one that is wrong.
    bool checkAll();

signals:
    void edited();

private:
    struct Row {
        QLineEdit* field = nullptr;
        QLabel* problem = nullptr;
        bool optional = false;
    };
    static constexpr std::size_t numberCount = 8;

    QGridLayout* m_grid;
    std::array<Row, numberCount> m_rows{};
};

} // namespace tavrin::app
