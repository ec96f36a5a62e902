// The playlist model seen as the rows sequencing works on.
#pragma once

#include "playlistmodel.h"
#include "tracklist.h"

class PlaylistRows : public TrackList {
public:
    explicit PlaylistRows(PlaylistModel &model) : m_model(model) { }
    int count() const override { return m_model.count(); }
    bool isChecked(int row) const override { return m_model.isChecked(row); }
    void setChecked(int row, bool checked) override { m_model.setChecked(row, checked); }
    QString tag(int row) const override { return m_model.tag(row); }
    void setTag(int row, const QString &tag) override { m_model.setTag(row, tag); }
    QString fullPath(int row) const override { return m_model.fullPath(row); }
    bool anyChecked() const override
    {
        const int n = m_model.count();
        for (int i = 1; i <= n; ++i)
            if (m_model.isChecked(i))
                return true;
        return false;
    }

private:
    PlaylistModel &m_model;
};
