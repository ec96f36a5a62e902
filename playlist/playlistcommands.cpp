#include "playlistcommands.h"

#include "pathbytes.h"
#include "playlistfiles.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "trackadder.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace kes
{

PlaylistCommands::PlaylistCommands(
    PlaylistModel &model, TrackAdder &adder, Prompter &prompter, const QString &programDir)
    : m_model(model)
    , m_adder(adder)
    , m_prompter(prompter)
    , m_programDir(programDir)
{
}

QStringList PlaylistCommands::droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    // Through the URL's bytes: a name that is not UTF-8 arrives as its percent escapes.
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths.append(pathFromFileUrl(url));
    return paths;
}

void PlaylistCommands::DropFiles(const QStringList &paths)
{
    m_adder.dropFiles(paths);
}

void PlaylistCommands::LoadM3u(const QString &path)
{
    m_adder.loadM3u(path);
}

QString PlaylistCommands::defaultPath(const QString &name) const
{
    return m_programDir + QLatin1Char('/') + name;
}

QString PlaylistCommands::WriteM3u(const QString &title, const QString &prompt, const QString &defaultName)
{
    return writeM3uFile(title, prompt, defaultName, nullptr);
}

QString PlaylistCommands::writeM3uFile(
    const QString &title, const QString &prompt, const QString &defaultName, bool *failed)
{
    if (failed)
        *failed = false;
    QList<TrackRow> paths;
    for (int i = 1; i <= m_model.count(); ++i)
        if (m_model.isChecked(i))
            paths.append(m_model.row(i));
    if (paths.isEmpty()) {
        m_prompter.message(QStringLiteral("選択ファイルが１つもありません"));
        return {};
    }
    const QString name = m_prompter.input(prompt, title, defaultPath(defaultName));
    if (name.isEmpty())
        return {};
    // A name with a line break would read back as two wrong entries: such rows are left
    // out, and the user is told how many.
    const qsizetype before = paths.size();
    paths.removeIf([](const TrackRow &r) {
        return r.fullPath.contains(QLatin1Char('\n')) || r.fullPath.contains(QLatin1Char('\r'));
    });
    if (paths.size() < before)
        m_prompter.message(QString::number(before - paths.size())
                + QStringLiteral("個のファイルは名前に改行を含むためPlaylistに書けません｡"),
            Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
    if (paths.isEmpty()) {
        if (failed)
            *failed = true;
        return {};
    }
    if (!writeWholeFile(name, m3uBytes(paths))) {
        m_prompter.message(writeFailedMessage(name), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        if (failed)
            *failed = true;
        return {};
    }
    m_prompter.message(
        QString::number(paths.size()) + QStringLiteral("個のファイルをPlaylist形式(m3u)で保存しました｡"));
    return name;
}

void PlaylistCommands::Save_m3u()
{
    WriteM3u(QStringLiteral("PlayListFile(m3u)の作成"), QStringLiteral("保存ファイル名をフルパスで入力してください"),
        QStringLiteral("playlist.m3u"));
}

void PlaylistCommands::Def_Playlist_Set(const std::function<void(const QString &path, SaveReply reply)> &storeAndSave)
{
    bool failed = false;
    const QString name = writeM3uFile(QStringLiteral("PlayListFile(m3u)の作成/デフォルトセット"),
        QStringLiteral("保存ファイル名をフルパスで入力してください"), QStringLiteral("kestrine_def.m3u"), &failed);
    // A playlist that could not be written is not recorded: the stored start-up playlist
    // stays as it was (Cancel and no checked row do clear it).
    if (failed)
        return;
    if (!storeAndSave) {
        m_prompter.message(QStringLiteral("設定の保存に失敗しました"));
        return;
    }
    storeAndSave(name, [this, name](bool ok) {
        m_prompter.message(ok ? name + QStringLiteral("をデフォルトPlaylistとしてセットしました｡")
                              : QStringLiteral("設定の保存に失敗しました"));
    });
}

void PlaylistCommands::Csv_Save()
{
    const QString name = m_prompter.input(QStringLiteral("保存ファイル名を入力してください"),
        QStringLiteral("ＣＳＶ形式のＴＡＧ保存"), defaultPath(QStringLiteral("csvfile.dat")));
    if (name.isEmpty())
        return;
    QList<TrackRow> rows;
    for (int i = 1; i <= m_model.count(); ++i)
        if (m_model.isChecked(i))
            rows.append(m_model.row(i));
    // The rows as they are now; those still waiting for their tags get them read on a
    // worker first, so the file holds every row's tags, never the stand-in texts.
    m_adder.withTags(std::move(rows), &m_context, [this, name](const QList<TrackRow> &tagged) {
        if (!writeWholeFile(name, csvBytes(tagged))) {
            m_prompter.message(writeFailedMessage(name), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
            return;
        }
        m_prompter.message(QString::number(tagged.size()) + QStringLiteral("個のファイルをCSV形式で保存しました｡"));
    });
}

void PlaylistCommands::All_Check()
{
    m_model.checkAll();
}

void PlaylistCommands::Lst_Cancel()
{
    m_model.uncheckAll();
}

void PlaylistCommands::List_Clear()
{
    m_model.clear();
}

int PlaylistCommands::removeRows(PlaylistModel &model, const QList<int> &rows, int &currentTrackNo)
{
    QList<int> gone = rows;
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    gone.removeIf([&model](int i) { return i < 1 || i > model.count(); });
    if (gone.isEmpty())
        return 0;
    const int current = currentTrackNo;
    const auto before = std::count_if(gone.begin(), gone.end(), [current](int r) { return r < current; });
    const int currentGone = gone.contains(current) ? 1 : 0;
    model.removeRowsAt(gone);
    currentTrackNo = current - static_cast<int>(before) - currentGone;
    return std::min(gone.first(), model.count());
}

int PlaylistCommands::moveRows(PlaylistModel &model, const QList<int> &rows, int before, int &currentTrackNo)
{
    const quint64 current = model.rowId(currentTrackNo);
    const int first = model.moveRows(rows, before);
    if (current != 0)
        currentTrackNo = model.indexOfId(current);
    return first;
}

int PlaylistCommands::moveRowsBy(PlaylistModel &model, QList<int> rows, int step, int &currentTrackNo)
{
    rows.removeIf([&model](int i) { return i < 1 || i > model.count(); });
    if (rows.isEmpty())
        return 0;
    std::sort(rows.begin(), rows.end());
    const int before = step < 0 ? std::max(1, rows.first() - 1) : std::min(model.count() + 1, rows.last() + 2);
    return moveRows(model, rows, before, currentTrackNo);
}

void PlaylistCommands::ColumnClick(int column)
{
    m_model.sortByColumn(column);
}

void PlaylistCommands::ItemClick(int row)
{
    m_selectedRow = row;
    m_selectedPath = m_model.fullPath(row);
}

} // namespace kes
