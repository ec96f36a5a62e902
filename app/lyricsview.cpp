#include "lyricsview.h"

#include "lyricseditor.h"
#include "lyricssearchdialog.h"
#include "pathbytes.h"
#include "playbackcontroller.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>

namespace kes
{

LyricsView::LyricsView(QWidget *box, QMenu *mainMenu, PlaybackController &controller, const Settings &settings,
    const QString &cacheRoot, QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_mainMenu(mainMenu)
    , m_controller(controller)
    , m_finder(controller, settings, cacheRoot)
    , m_menu(new QMenu(box))
    , m_note(new QLabel(box))
{
    m_menu->setObjectName(QStringLiteral("lyricsMenu"));
    m_note->setObjectName(QStringLiteral("lyricsNote"));
    m_note->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette grey = m_note->palette();
    grey.setColor(QPalette::WindowText, QColor(170, 170, 200));
    m_note->setPalette(grey);
    QFont small = m_note->font();
    small.setPixelSize(10);
    m_note->setFont(small);
    boxResized();
    connect(&m_finder, &LyricsFinder::note, this, &LyricsView::showNote);
}

void LyricsView::boxResized()
{
    m_note->setGeometry(4, m_box->height() - 14, m_box->width() - 8, 13);
    if (m_editor)
        m_editor->setGeometry(m_box->rect());
}

void LyricsView::showNote(const QString &text)
{
    m_note->setText(text);
    m_note->raise();
}

void LyricsView::fillMenu()
{
    m_menu->clear();
    m_menu->addActions(m_mainMenu->actions());
    m_menu->addSeparator();
    const bool playing = !m_controller.nowPlaying().path.isEmpty();
    const bool lookup = m_finder.lookupOn() && playing;
    const QString off = QStringLiteral("オプションの「歌詞の検索」を有効にすると使えます");
    const auto item = [this](const char *name, const QString &text, auto handler) {
        QAction *a = m_menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QAction *again = item("lyricsSearchAgain", QStringLiteral("歌詞を検索し直す…"), [this] { searchAgain(false); });
    QAction *choose = item("lyricsChoose", QStringLiteral("歌詞の候補から選ぶ…"), [this] { searchAgain(true); });
    for (QAction *a : { again, choose }) {
        a->setEnabled(lookup);
        if (!m_finder.lookupOn())
            a->setToolTip(off);
    }
    QAction *drop = item("lyricsDrop", QStringLiteral("見つけた歌詞を削除"), [this] { dropFound(); });
    drop->setEnabled(playing);
    QAction *edit = item("lyricsEdit", QStringLiteral("歌詞のタイミングを編集"), [this] { editTiming(); });
    edit->setEnabled(playing && m_controller.lyricsOn() && isRegularFile(m_controller.LyricsFile()));
    m_menu->setToolTipsVisible(true);
}

void LyricsView::popup(const QPoint &globalPos)
{
    fillMenu();
    m_menu->popup(globalPos);
}

void LyricsView::searchAgain(bool searchNow)
{
    if (!m_finder.lookupOn() || m_controller.nowPlaying().path.isEmpty())
        return;
    if (m_search)
        m_search->close();
    m_search = new LyricsSearchDialog(m_finder.server(), m_finder.queryOfPlaying(), m_box->window());
    m_search->setAttribute(Qt::WA_DeleteOnClose);
    const QString track = m_controller.nowPlaying().path;
    connect(m_search, &LyricsSearchDialog::chosen, this, [this, track](const LyricsCandidate &c) {
        if (track == m_controller.nowPlaying().path)
            m_finder.keep(c);
    });
    m_search->open();
    if (searchNow)
        m_search->startSearch();
}

void LyricsView::dropFound()
{
    if (!m_finder.drop())
        showNote(QStringLiteral("削除できる、見つけた歌詞はありません"));
}

void LyricsView::editTiming()
{
    const QString path = m_controller.LyricsFile();
    if (!m_controller.lyricsOn() || !isRegularFile(path)) {
        showNote(QStringLiteral("編集できる歌詞ファイルがありません"));
        return;
    }
    closeEditor();
    m_editor = new LyricsEditor([this] { return m_controller.positionMs(); }, m_box);
    // The desktop's colours, not the view's navy.
    QPalette plain = QApplication::palette();
    plain.setResolveMask(~QPalette::ResolveMask(0));
    m_editor->setPalette(plain);
    QString error;
    if (!m_editor->open(path, &error)) {
        closeEditor();
        showNote(error);
        return;
    }
    connect(m_editor, &LyricsEditor::saved, this, [this](const QString &saved) {
        if (saved == m_controller.LyricsFile())
            m_controller.showLyricsFile(saved);
    });
    connect(m_editor, &LyricsEditor::closeRequested, this, &LyricsView::closeEditor, Qt::QueuedConnection);
    m_editor->setGeometry(m_box->rect());
    m_editor->show();
    m_editor->raise();
    m_editor->findChild<QWidget *>(QStringLiteral("lyricsEditorLines"))->setFocus();
}

void LyricsView::closeEditor()
{
    if (m_editor)
        delete m_editor.data();
}

} // namespace kes
