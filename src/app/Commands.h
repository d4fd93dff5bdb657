#pragma once

#include <QKeyCombination>

#include <span>

namespace torvaline {

class TForm1;

// The window's commands, each listed once: the menus, the toolbar and their icons are built
// from these tables, and the window's tests read them to know what to look for.
using Command = void (TForm1::*)();

struct MenuEntry {
    const char* objectName;
    const char* title;
};

// A menu entry, or an action of the window that only a toolbar button shows.
struct ActionEntry {
    const char* menu; // objectName of the menu it stands in; null: in none
    const char* objectName;
    const char* text;    // with its access key
    const char* toolTip; // null: the text
    QKeyCombination shortcut = Qt::Key_unknown;
    Command command = nullptr;
    bool checkable = false;
};

// A toolbar button, or a separator where objectName is null. A button runs its command, or
// stands for a window action (and keeps its own tool tip); with neither it is shown disabled.
struct ButtonEntry {
    const char* objectName;
    const char* toolTip = nullptr;
    const char* icon = nullptr; // the picture's name among the program's own (src/app/icons)
    Command command = nullptr;
    const char* action = nullptr;
    bool latching = false; // each click toggles it
};

struct Commands {
    static std::span<const MenuEntry> menus();
    static std::span<const ActionEntry> actions();
    static std::span<const ButtonEntry> toolBar();
};

} // namespace torvaline
