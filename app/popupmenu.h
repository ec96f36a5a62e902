// The main window's pop-up menu `Listview_Pop`: its sub-menus and items, each named as
// the classic one (an item's objectName is its handler's name).  The window binds the
// items to their handlers by those names.  GUI thread only.
#pragma once

class QMenu;
class QWidget;

namespace kes
{

// The menu, a child of parent; `repeat_set` is checkable and checked.
QMenu *makePopupMenu(QWidget *parent);

} // namespace kes
