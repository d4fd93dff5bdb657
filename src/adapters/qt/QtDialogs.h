#pragma once

#include "platform/Dialogs.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace torvaline {

// Message boxes and file choosers over Qt Widgets, modal to the given parent window.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr);

    void setParent(QWidget* parent) { m_parent = parent; }

    Answer confirm(const std::string& text) override;
    std::optional<std::string> openFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override;
    std::optional<std::string> saveFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override;
    void showError(const std::string& text) override;
    LinksAnswer askAddLinks(const std::string& question,
                            const std::vector<std::string>& links) override;
    void updateAddLinks(const std::string& question,
                        const std::vector<std::string>& links) override;

    // "desc|pattern|desc|pattern" as Qt's name filter list ("desc (pattern)" per line).
    static QString toQtFilter(const std::string& filter);
    // ".Txt" -> "Txt": Qt wants the suffix without its dot.
    static QString toQtSuffix(const std::string& defaultExt);

private:
    std::optional<std::string> chooseFile(bool save, const std::string& filter,
                                          const std::string& defaultExt,
                                          const std::string& initialName);

    QPointer<QWidget> m_parent;
    QPointer<QMessageBox> m_addLinks; // the open Click'n'Load question
};

} // namespace torvaline
