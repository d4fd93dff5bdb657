#include "adapters/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace torvaline {

namespace {

QString fromBytes(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "Text Files (*.TXT)" -> "Text Files": the patterns are written back from the pattern field,
// which is the one that counts.
QString withoutTrailingPatterns(QString description) {
    description = description.trimmed();
    if (description.endsWith(u')')) {
        const qsizetype open = description.lastIndexOf(u'(');
        if (open > 0)
            description = description.left(open).trimmed();
    }
    return description;
}

} // namespace

QtDialogs::QtDialogs(QWidget* parent)
    : m_parent(parent) {}

QString QtDialogs::toQtFilter(const std::string& filter) {
    const QStringList parts = fromBytes(filter).split(u'|');
    QStringList lines;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (pattern.isEmpty())
                continue;
            patterns << pattern;
            // Upper-case patterns were written for a case-blind file system; here they
            // would hide the very files the user means.
            if (pattern.toLower() != pattern)
                patterns << pattern.toLower();
        }
        if (patterns.isEmpty())
            continue;
        QString description = withoutTrailingPatterns(parts[i]);
        if (description.isEmpty())
            description = patterns.first();
        lines << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return lines.join(QStringLiteral(";;"));
}

QString QtDialogs::toQtSuffix(const std::string& defaultExt) {
    QString suffix = fromBytes(defaultExt).trimmed();
    while (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    return suffix;
}

Answer QtDialogs::confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), fromBytes(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent);
    box.setObjectName(QStringLiteral("ConfirmBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<std::string> QtDialogs::openFile(const std::string& filter,
                                               const std::string& defaultExt,
                                               const std::string& initialName) {
    return chooseFile(false, filter, defaultExt, initialName);
}

std::optional<std::string> QtDialogs::saveFile(const std::string& filter,
                                               const std::string& defaultExt,
                                               const std::string& initialName) {
    return chooseFile(true, filter, defaultExt, initialName);
}

std::optional<std::string> QtDialogs::chooseFile(bool save, const std::string& filter,
                                                 const std::string& defaultExt,
                                                 const std::string& initialName) {
    QFileDialog dialog(m_parent);
    dialog.setObjectName(save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Neither chooser insists that the file exists; the commands ask about overwriting
    // themselves, so the dialog must not ask a second time.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QString nameFilter = toQtFilter(filter);
    if (!nameFilter.isEmpty())
        dialog.setNameFilters(nameFilter.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(toQtSuffix(defaultExt));
    if (!initialName.empty())
        dialog.selectFile(fromBytes(initialName));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    const QByteArray path = files.first().toUtf8();
    return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

void QtDialogs::showError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), fromBytes(text),
                    QMessageBox::Ok, m_parent);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

namespace {

QString linkLines(const std::vector<std::string>& links) {
    QString details;
    for (const std::string& link : links)
        details += fromBytes(link) + QLatin1Char('\n');
    return details;
}

} // namespace

LinksAnswer QtDialogs::askAddLinks(const std::string& question,
                                   const std::vector<std::string>& links) {
    // Whatever a web page sent is shown as plain text, never as markup.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Click'n'Load"), fromBytes(question),
                    QMessageBox::NoButton, m_parent);
    box.setObjectName(QStringLiteral("AddLinksBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(linkLines(links));
    QPushButton* add = box.addButton(QStringLiteral("Add"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::RejectRole);
    // A page that keeps posting must not keep the user from the way out.
    QPushButton* off =
        box.addButton(QStringLiteral("Turn Off Click'n'Load"), QMessageBox::DestructiveRole);
    box.setDefaultButton(discard);
    box.setEscapeButton(discard);
    m_addLinks = &box;
    box.exec();
    m_addLinks = nullptr;
    if (box.clickedButton() == add)
        return LinksAnswer::Add;
    return box.clickedButton() == off ? LinksAnswer::TurnOff : LinksAnswer::Discard;
}

void QtDialogs::updateAddLinks(const std::string& question, const std::vector<std::string>& links) {
    if (!m_addLinks)
        return;
    m_addLinks->setText(fromBytes(question));
    m_addLinks->setDetailedText(linkLines(links));
}

} // namespace torvaline
