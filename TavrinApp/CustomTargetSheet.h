#pragma once

#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Workflow.h"

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrin::app {

/// A custom target as the Preset menu and box list it, with the rest of its rule so targets that
/// share a loudness tell themselves apart: "−19.0 LUFS (±1.0 LU, ≤ −1.0 dBTP)".
QString customTargetOption(const DeliverySpec& spec);

/// The small sheet that asks for a target of one's own: target, tolerance and true-peak ceiling,
/// each with the sentence under it that says what is wrong with it. OK gives the custom spec only
/// when all three are numbers within their ranges.
class CustomTargetSheet : public QDialog {
    Q_OBJECT

public:
    /// Starts from `current`'s three numbers when it is a custom target, else from its target with
    /// a tolerance of 1.0 LU and a ceiling of −1.0 dBTP.
    explicit CustomTargetSheet(const DeliverySpec& current, QWidget* parent = nullptr);

    /// The target the fields give; set once the sheet is accepted.
    const std::optional<DeliverySpec>& spec() const { return m_spec; }
    QLineEdit* field(Workflow::CustomNumber number) const;
    /// The sentence under the field; hidden while the field is fine.
    QLabel* problemLabel(Workflow::CustomNumber number) const;
    QPushButton* okButton() const { return m_ok; }

    /// Accepts only when every field is fine; otherwise says why under each wrong one.
    void accept() override;

private:
    class TargetFields* m_fields;
    QPushButton* m_ok = nullptr;
    std::optional<DeliverySpec> m_spec;
};

} // namespace tavrin::app
