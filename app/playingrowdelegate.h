// The playlist's rows as the list view draws them, with the row of the track that plays
// (PlaylistModel::PlayingRole) in bold, those whose file is missing
// (PlaylistModel::MissingRole) greyed out, and a queued row's place and the stop-after
// mark before the title.  GUI thread only.
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
        // Before the title (the number's column is too narrow): the row's place in the play
        // queue, and the stop-after mark.
        if (index.column() == PlaylistModel::TitleColumn) {
            QStringList marks;
            if (const int place = index.data(PlaylistModel::QueueRole).toInt(); place > 0)
                marks << QStringLiteral("[%1]").arg(place);
            if (index.data(PlaylistModel::StopAfterRole).toBool())
                marks << QStringLiteral("■停止");
            if (!option->text.isEmpty() && !marks.isEmpty())
                marks << option->text;
            if (!marks.isEmpty())
                option->text = marks.join(u' ');
        }
    }
};

} // namespace kes
