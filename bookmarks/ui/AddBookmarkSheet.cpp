#include "AddBookmarkSheet.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AddBookmarkSheet::AddBookmarkSheet(const QString& title, const QString& tags, QWidget* parent)
    : QDialog(parent), m_titleField(new QLineEdit(title, this)),
      m_tagField(new QLineEdit(tags, this)) {
    setWindowTitle(tr("Add Bookmark"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("addBookmarkSheet"));
    m_titleField->setObjectName(QStringLiteral("titleField"));
    m_tagField->setObjectName(QStringLiteral("tagField"));
    m_tagField->setPlaceholderText(tr("Tags, separated by commas"));

    auto* form = new QFormLayout;
    form->addRow(tr("Title:"), m_titleField);
    form->addRow(tr("Tags:"), m_tagField);
    auto* buttons = new QDialogButtonBox(this);
    m_cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    m_addButton = buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole);
    m_addButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_titleField->selectAll();
    m_titleField->setFocus();
    resize(420, sizeHint().height());
}
