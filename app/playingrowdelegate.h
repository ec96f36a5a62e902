// The playlist's rows as the list view draws them, with the row of the track that plays
// (PlaylistModel::PlayingRole) in bold and those whose file is missing
// (PlaylistModel::MissingRole) greyed out.  GUI thread only.
#pragma once

#include "playlistmodel.h"

#include <QStyledItemDelegate>

namespace kes
{

class PlayingRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(PlaylistModel::PlayingRole).toBool())
            option->font.setBold(true);
        // A row whose file is missing (its drive not mounted) shows greyed out.
        if (index.data(PlaylistModel::MissingRole).toBool())
            option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Disabled, QPalette::Text));
    }
};

} // namespace kes
