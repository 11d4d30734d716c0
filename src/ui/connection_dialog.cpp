#include "ui/connection_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "cable_choice/cable_form.h"
#include "cable_choice/cable_port.h"
#include "ui/dialog_units.h"

namespace zorv::ui {
namespace {

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

const CableKind* kindAt(int index) {
  const auto kinds = cableKinds();
  return index >= 0 && static_cast<size_t>(index) < kinds.size() ? &kinds[static_cast<size_t>(index)] : nullptr;
}

}  // namespace

ConnectionDialog::ConnectionDialog(const Connection& current, QWidget* parent)
    : QDialog(parent), kinds_(new QComboBox(this)), help_(new QLabel(this)), form_(new QFormLayout), tck_(new QLineEdit(this)) {
  setWindowTitle(QStringLiteral("Cable"));
  setFont(pageFont());  // the window's one font
  const std::string currentText = current.cable.trimmed().toStdString();
  const CableKind* currentKind = findCableKind(currentText);
  int currentIndex = 0;
  for (size_t i = 0; i < cableKinds().size(); ++i) {
    const CableKind& kind = cableKinds()[i];
    kinds_->addItem(text(kind.name) + QStringLiteral(" — ") + text(kind.syntax));
    kinds_->setItemData(static_cast<int>(i), text(kind.help), Qt::ToolTipRole);
    if (&kind == currentKind) currentIndex = static_cast<int>(i);
  }
  help_->setWordWrap(true);
  tck_->setPlaceholderText(QStringLiteral("the cable's own (6M, 500k, ...)"));
  tck_->setToolTip(QStringLiteral("TCK rate in Hz, k or M after it for kHz, MHz (--tck)"));

  form_->addRow(QStringLiteral("Kind:"), kinds_);
  form_->addRow(QString(), help_);
  firstFieldRow_ = form_->rowCount();
  form_->addRow(QStringLiteral("TCK:"), tck_);
  // The chain and the board, once they can be chosen, go here, below the cable they are reached by.

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form_);
  layout->addWidget(buttons);

  kinds_->setCurrentIndex(currentIndex);
  showKind(currentIndex, currentKind != nullptr ? current.cable.trimmed() : QString());
  tck_->setText(current.tck);
  connect(kinds_, &QComboBox::currentIndexChanged, this, [this](int index) { showKind(index, QString()); });
}

void ConnectionDialog::showKind(int index, const QString& cableText) {
  for (size_t i = 0; i < fields_.size(); ++i) form_->removeRow(firstFieldRow_);
  fields_.clear();
  const CableKind* kind = kindAt(index);
  if (kind == nullptr) return;
  help_->setText(text(kind->help));
  const std::vector<CableField> fields = cableFormFields(*kind);
  const std::vector<std::string> values =
      cableText.isEmpty() ? std::vector<std::string>(fields.size()) : cableFieldValues(*kind, cableText.toStdString());
  for (size_t i = 0; i < fields.size(); ++i) {
    const QString value = QString::fromStdString(i < values.size() ? values[i] : std::string());
    QWidget* field = nullptr;
    if (fields[i].choices != nullptr) {
      auto* combo = new QComboBox(this);
      combo->setEditable(true);
      combo->addItem(QString());
      for (const std::string& choice : fields[i].choices()) combo->addItem(QString::fromStdString(choice));
      combo->lineEdit()->setPlaceholderText(text(fields[i].hint));
      combo->setEditText(value);
      field = combo;
    } else {
      auto* edit = new QLineEdit(value, this);
      edit->setPlaceholderText(text(fields[i].hint));
      field = edit;
    }
    form_->insertRow(firstFieldRow_ + static_cast<int>(i), text(fields[i].label) + QStringLiteral(":"), field);
    fields_.push_back(field);
  }
  tck_->setEnabled(kind->setsTck);
}

QString ConnectionDialog::fieldLabel(int index) const {
  auto* label = qobject_cast<QLabel*>(form_->labelForField(fields_.at(static_cast<size_t>(index))));
  return label != nullptr ? label->text() : QString();
}

QString ConnectionDialog::fieldText(int index) const {
  QWidget* field = fields_.at(static_cast<size_t>(index));
  if (auto* combo = qobject_cast<QComboBox*>(field)) return combo->currentText();
  return static_cast<QLineEdit*>(field)->text();
}

void ConnectionDialog::setFieldText(int index, const QString& value) {
  QWidget* field = fields_.at(static_cast<size_t>(index));
  if (auto* combo = qobject_cast<QComboBox*>(field)) {
    combo->setEditText(value);
  } else {
    static_cast<QLineEdit*>(field)->setText(value);
  }
}

Connection ConnectionDialog::connection() const {
  const CableKind* kind = kindAt(kinds_->currentIndex());
  if (kind == nullptr) return {};
  std::vector<std::string> values;
  for (int i = 0; i < fieldCount(); ++i) values.push_back(fieldText(i).toStdString());
  return {QString::fromStdString(composeCableText(*kind, values)), kind->setsTck ? tck_->text().trimmed() : QString()};
}

}  // namespace zorv::ui
