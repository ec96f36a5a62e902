// The playlist's rows as the list view draws them, with the row of the track that plays
// (PlaylistModel::PlayingRole) in bold, those whose file is missing
// (PlaylistModel::MissingRole) greyed out, and a queued row's place and the stop-after
// mark beside the number.  GUI thread only.
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
        // Beside the number: the row's place in the play queue, and the stop-after mark.
        if (index.column() == PlaylistModel::NoColumn) {
            if (const int place = index.data(PlaylistModel::QueueRole).toInt(); place > 0)
                option->text += QStringLiteral(" [%1]").arg(place);
            if (index.data(PlaylistModel::StopAfterRole).toBool())
                option->text += QStringLiteral(" ■停止");
        }
    }
};

} // namespace kes
