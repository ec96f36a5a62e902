#include "mainwindow.h"

#include "aboutwindow.h"
#include "clicklabel.h"
#include "eqpresets.h"
#include "foldersearchwindow.h"
#include "optionswindow.h"
#include "pathbytes.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "printwindow.h"
#include "sequencer.h"
#include "singleinstance.h"
#include "tabcontrol.h"
#include "toolbaricons.h"
#include "trackadder.h"
#include "trimnull.h"
#include "twips.h"
#include "videowindowpresenter.h"
#include "volumememory.h"
#include "wavebox.h"

#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

namespace kes
{

namespace
{

constexpr int kFullHeight = 4830;
constexpr int kCompactHeight = 1830;
constexpr int kStartWidth = 5850;

const QColor kOrange(255, 128, 0);
const QColor kGreen(0, 255, 0);

QFont windowFont()
{
    return QFont(QStringLiteral("ＭＳ Ｐゴシック"), 11);
}

// The classic "Terminal" read-out font is a narrow bitmap face; a monospaced face at a
// pixel size that keeps the captions inside their labels stands in for it.
QFont terminalFont(qreal points, bool bold = false)
{
    QFont f(QStringLiteral("Terminal"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(points >= 9 ? 9 : 8);
    f.setBold(bold);
    return f;
}

QFont gothicFont(qreal points, bool bold, bool italic = false)
{
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QRect pxRect(const QRect &twips)
{
    return twipsRect(twips.x(), twips.y(), twips.width(), twips.height());
}

// A read-out label: transparent, text at the top left.
QLabel *makeLabel(
    const char *name, const QString &text, const QRect &twips, QColor color, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(pxRect(twips));
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setAutoFillBackground(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

MainWindow::MainWindow(const Context &context, QWidget *parent)
    : QWidget(parent)
    , m_ctx(context)
{
    setObjectName(QStringLiteral("kestrine"));
    setWindowTitle(QStringLiteral("kestrine"));
    setWindowIcon(QIcon(applicationIcon(64)));
    setFont(windowFont());
    buildControls();
    buildPopupMenu();
    bindPlaylist();
    setWindowSizeTwips(kStartWidth, kFullHeight);
}

MainWindow::~MainWindow()
{
    formUnload();
}

void MainWindow::bindPlaylist()
{
    m_playlist = new PlaylistModel(this);
    m_adder = new TrackAdder(m_playlist, m_ctx.api, m_ctx.prompter, this);
    m_commands = std::make_unique<PlaylistCommands>(*m_playlist, *m_adder, *m_ctx.prompter, m_ctx.programFolder);
    m_sequencer = std::make_unique<Sequencer>(
        *m_playlist, m_state.CurrentTrackNo, [this] { return playMode(); }, [this] { return repeatOn(); });
    m_playback = std::make_unique<PlaybackController>(
        m_ctx.api, *m_ctx.prompter, static_cast<PlaybackView &>(*this), m_state, *m_sequencer, m_settings, this);
    m_videoWindow = std::make_unique<VideoWindowPresenter>(
        VideoWindow::Context { m_playlist, &m_state, m_sequencer.get(), m_ctx.api, m_ctx.prompter });
    m_playback->setVideoPresenter(m_videoWindow.get());
    // Queued: a handed-back track starts once the video window has finished closing.
    connect(m_videoWindow.get(), &VideoWindowPresenter::closed, m_playback.get(), &PlaybackController::videoClosed,
        Qt::QueuedConnection);
    // Only dragging the thumb seeks; the next tick puts the thumb back otherwise.
    connect(m_seekbar, &QScrollBar::sliderMoved, m_playback.get(), &PlaybackController::seekbarScroll);

    m_listView->setModel(m_playlist);
    m_listView->setAcceptDrops(true);
    m_listView->viewport()->setAcceptDrops(true);
    m_listView->setDropIndicatorShown(false);
    m_listView->header()->setSectionsClickable(true);
    m_listView->header()->setSortIndicatorShown(false);
    connect(m_listView->header(), &QHeaderView::sectionClicked, this,
        [this](int section) { m_commands->ColumnClick(section); });
    connect(m_listView, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            m_commands->ItemClick(index.row() + 1);
    });

    auto connectMenu = [this](const char *name, auto slot) {
        if (QAction *a = findChild<QAction *>(QString::fromUtf8(name)))
            connect(a, &QAction::triggered, this, slot);
    };
    connectMenu("All_Check", [this] { m_commands->All_Check(); });
    connectMenu("Lst_Cancel", [this] { m_commands->Lst_Cancel(); });
    connectMenu("List_Clear", [this] { m_commands->List_Clear(); });
    connectMenu("Save_m3u", [this] { m_commands->Save_m3u(); });
    connectMenu("Csv_Save", [this] { m_commands->Csv_Save(); });
    connectMenu("Option_Call", [this] { openOptions(); });
    connectMenu("Def_Playlist_Set", [this] {
        m_commands->Def_Playlist_Set([this](const QString &path) {
            m_settings.Op_14 = path;
            return SaveSettings(m_settings, m_ctx.iniPath);
        });
    });
}

FolderSearchWindow *MainWindow::folderSearch()
{
    if (!m_folderSearch)
        m_folderSearch = new FolderSearchWindow(*m_playlist, *m_adder, *m_ctx.prompter, this);
    return m_folderSearch;
}

void MainWindow::SetupColumns()
{
    const QList<PlaylistColumn> columns = PlaylistModel::SetupColumns();
    for (int i = 0; i < columns.size(); ++i)
        m_listView->setColumnWidth(i, twipsToPx(columns[i].widthTwips));
    // The first column also holds the check box: keep "10000" readable beside it.
    const int numberWidth = m_listView->fontMetrics().horizontalAdvance(QStringLiteral("10000"))
        + m_listView->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 16;
    m_listView->setColumnWidth(0, std::max(m_listView->columnWidth(0), numberWidth));
}

void MainWindow::listViewDblClick()
{
    const PlaylistCommands::Pick pick = m_commands->DblClick();
    m_playback->playRow(pick.row, pick.path);
}

void MainWindow::buildControls()
{
    buildToolbar();
    buildReadOuts();
    buildModeLabels();
    m_seekbar = new QScrollBar(Qt::Horizontal, this);
    m_seekbar->setObjectName(QStringLiteral("seekbar"));
    m_seekbar->setGeometry(twipsRect(1890, 1230, 1890, 150));
    m_seekbar->setRange(0, 0);
    buildTabs();
    buildVolumeSlider();
    // A right click on a read-out opens the pop-up menu (the lyrics lines and the list
    // view are filtered where they are built).
    const QList<QWidget *> popupSources { m_lblNumber, m_lblTime, m_lblTime2, m_label6, m_label7, m_lblArt, m_lblTitle,
        m_wavebox };
    for (QWidget *w : popupSources)
        w->installEventFilter(this);
}

void MainWindow::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setGeometry(twipsRect(0, 0, 5730, 360));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolbar->setContentsMargins(0, 0, 0, 0);
    m_toolbar->installEventFilter(this);
    connect(m_toolbar, &QToolBar::actionTriggered, this,
        [this](QAction *action) { Toolbar_ButtonClick(action->data().toString()); });
}

void MainWindow::buildReadOuts()
{
    m_shape2 = new QWidget(this);
    m_shape2->setObjectName(QStringLiteral("Shape2"));
    m_shape2->setGeometry(twipsRect(30, 375, 5700, 1065));
    m_shape2->setAutoFillBackground(true);
    QPalette black = m_shape2->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_shape2->setPalette(black);
    // A shape is no window: clicks on it land on the form.
    m_shape2->setAttribute(Qt::WA_TransparentForMouseEvents);

    const struct {
        QLabel *MainWindow::*member; // nullptr: the "/" between the times, kept by no member
        const char *name;
        const char *text;
        QRect twips;
        QColor color;
        QFont font;
    } labels[] = {
        { &MainWindow::m_lblNumber, "Lbl_Number", "N0.1", { 150, 450, 360, 195 }, kOrange, terminalFont(9.75) },
        { &MainWindow::m_lblTime, "lblTime", "00:00", { 1020, 480, 375, 120 }, kGreen, terminalFont(6) },
        { nullptr, "Label16", "/", { 1440, 420, 120, 225 }, Qt::white, font() },
        { &MainWindow::m_lblTime2, "lbl_time2", "00:00", { 1620, 480, 375, 120 }, kGreen, terminalFont(6) },
        { &MainWindow::m_label6, "Label6", "000 kb/s ", { 2100, 480, 675, 120 }, kOrange, terminalFont(6) },
        { &MainWindow::m_label7, "Label7", "000 KHz ", { 2790, 480, 600, 120 }, kOrange, terminalFont(6) },
        { &MainWindow::m_lblVol, "Lbl_Vol", "Vol -", { 4410, 450, 1215, 120 }, kOrange, terminalFont(6, true) },
        { &MainWindow::m_lblArt, "lbl_art", "Artist", { 150, 690, 3165, 255 }, QColor(255, 192, 128),
            gothicFont(9.75, true) },
        { &MainWindow::m_lblTitle, "lbl_title", "Title", { 150, 930, 3165, 255 }, QColor(128, 255, 255),
            gothicFont(9.75, true) },
    };
    for (const auto &l : labels) {
        QLabel *label = makeLabel(l.name, QString::fromUtf8(l.text), l.twips, l.color, l.font, this);
        if (l.member)
            this->*l.member = label;
        else // opens no pop-up menu, not even the window's own
            label->setAttribute(Qt::WA_NoMousePropagation);
    }

    m_wavebox = new WaveBox(this);
    m_wavebox->setGeometry(twipsRect(4260, 720, 1300, 700));
    m_wavebox->setHeightTwips(700);
}

void MainWindow::buildModeLabels()
{
    const struct {
        ClickLabel *MainWindow::*member;
        const char *name;
        const char *text;
        QRect twips;
        const char *toolTip;
        void (MainWindow::*clicked)();
    } labels[] = {
        { &MainWindow::m_label15, "Label15", "Repeat-on", { 120, 1200, 810, 195 }, "Click : リピート再生ＯＮ・ＯＦＦ",
            &MainWindow::Label15_Click },
        { &MainWindow::m_label5, "Label5", "Normal", { 1170, 1200, 540, 195 }, "Click : 再生ＭＯＤＥの変更",
            &MainWindow::label5Click },
    };
    for (const auto &l : labels) {
        auto *label = new ClickLabel(QString::fromUtf8(l.text), this);
        label->setObjectName(QString::fromUtf8(l.name));
        label->setGeometry(pxRect(l.twips));
        label->setFont(terminalFont(9.75));
        label->setToolTip(QString::fromUtf8(l.toolTip));
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, kOrange);
        pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
        label->setPalette(pal);
        label->setAttribute(Qt::WA_NoMousePropagation);
        connect(label, &ClickLabel::clicked, this, l.clicked);
        this->*l.member = label;
    }
}

void MainWindow::buildTabs()
{
    m_tab = new TabControl(this);
    m_tab->setObjectName(QStringLiteral("SSTab1"));
    m_tab->setGeometry(twipsRect(60, 1500, 5625, 2895));
    m_tab->setAttribute(Qt::WA_NoMousePropagation);
    // Compact tabs, so that the "File Search" button fits beside them.
    m_tab->tabBar()->setFont(gothicFont(9, false));
    m_tab->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 7px; }"));
    QWidget *lyricsPage = m_tab->addPage(QStringLiteral("Lyrcs View"));
    QWidget *filesPage = m_tab->addPage(QStringLiteral("Files"));

    m_lyricsBox = new QWidget(lyricsPage);
    m_lyricsBox->setObjectName(QStringLiteral("LyricsBox"));
    m_lyricsBox->setGeometry(twipsRect(60, 390, 5490, 2490));
    m_lyricsBox->setAutoFillBackground(true);
    QPalette navy = m_lyricsBox->palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    m_lyricsBox->setPalette(navy);
    m_lyricsBox->setAttribute(Qt::WA_NoMousePropagation);
    const int kasiTop[5] = { 60, 536, 1012, 1488, 1965 };
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = "lbl_kasi(" + QByteArray::number(i) + ")";
        m_kasi[i] = makeLabel(name.constData(), QString(), QRect(30, kasiTop[i], 5355, 345), Qt::white,
            i == 2 ? gothicFont(12, true, true) : font(), m_lyricsBox);
        m_kasi[i]->installEventFilter(this);
    }

    m_listView = new QTreeView(filesPage);
    m_listView->setObjectName(QStringLiteral("ListView"));
    m_listView->setGeometry(twipsRect(60, 360, 5520, 2505));
    m_listView->setRootIsDecorated(false);
    m_listView->setUniformRowHeights(true);
    m_listView->setAllColumnsShowFocus(true);
    m_listView->setFont(gothicFont(9, false));
    m_listView->viewport()->installEventFilter(this);
    m_listView->installEventFilter(this);

    auto *command2 = new QPushButton(QStringLiteral("File Search"), filesPage);
    command2->setObjectName(QStringLiteral("Command2"));
    command2->setGeometry(twipsRect(2040, 60, 1545, 285));
    m_command2 = command2;
    connect(command2, &QPushButton::clicked, this, [this] { folderSearch()->openModal(); });
}

void MainWindow::buildVolumeSlider()
{
    // The slider lies over the right end of the toolbar.
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("Slider1"));
    m_slider->setGeometry(twipsRect(4350, 90, 1380, 255));
    m_slider->setRange(0, 65535);
    m_slider->setPageStep(4096);
    m_slider->raise();
    connect(m_slider, &QSlider::actionTriggered, this, [this](int) {
        // actionTriggered reports the value about to be set: apply it once it is.
        QMetaObject::invokeMethod(
            this, [this] { slider1Change(m_slider->value()); }, Qt::QueuedConnection);
    });
    connect(m_slider, &QSlider::sliderMoved, this, &MainWindow::slider1Change);
}

void MainWindow::buildPopupMenu()
{
    m_pop = new QMenu(this);
    m_pop->setObjectName(QStringLiteral("Listview_Pop"));
    auto add = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromUtf8(name));
        return a;
    };
    auto sub = [this](const char *name, const QString &caption) {
        QMenu *m = m_pop->addMenu(caption);
        m->setObjectName(QString::fromUtf8(name));
        m->menuAction()->setObjectName(QString::fromUtf8(name));
        return m;
    };
    QMenu *menu0 = sub("menu0", QStringLiteral("Play Mode"));
    m_repeatSet = add(menu0, "repeat_set", QStringLiteral("リピート"));
    m_repeatSet->setCheckable(true);
    m_repeatSet->setChecked(true);
    connect(m_repeatSet, &QAction::triggered, this, [this] {
        // The action toggled its own check already; the handler owns the state.
        m_repeatSet->setChecked(!m_repeatSet->isChecked());
        repeatSetClick();
    });
    QMenu *menu1 = sub("menu1", QStringLiteral("ListView"));
    add(menu1, "All_Check", QStringLiteral("List All Check"));
    add(menu1, "Lst_Cancel", QStringLiteral("List All Cancel"));
    add(menu1, "List_Clear", QStringLiteral("List Clear"));
    QMenu *menu2 = sub("menu2", QStringLiteral("プレイリスト＆CSV　作成"));
    add(menu2, "Save_m3u", QStringLiteral("Make PlayLsit(m3u)"));
    add(menu2, "Def_Playlist_Set", QStringLiteral("PlayList Set(起動時用)"));
    add(menu2, "Csv_Save", QStringLiteral("ＣＳＶ形式で保存(ID3Tag)"));
    QAction *dummy = add(m_pop, "dummy2", QStringLiteral("------------------------"));
    dummy->setEnabled(false);
    add(m_pop, "Option_Call", QStringLiteral("Option"));
    QAction *printCd = add(m_pop, "Print_CD", QStringLiteral("Print CD"));
    connect(printCd, &QAction::triggered, this, [this] { Toolbar_ButtonClick(QStringLiteral("印刷")); });
    QAction *homePage = add(m_pop, "HomePage", QStringLiteral("HomePage"));
    connect(homePage, &QAction::triggered, this, [this] { HomePage_Click(*m_ctx.prompter); });
    QAction *about = add(m_pop, "about", QStringLiteral("about"));
    connect(about, &QAction::triggered, this, &MainWindow::about_Click);
}

void MainWindow::about_Click()
{
    // Built anew for each opening and gone when it closes: its load steps run every time.
    AboutWindow frmAbout(m_ctx.api.getVersion, applicationIcon(64), this);
    frmAbout.exec();
}

void MainWindow::setWindowSizeTwips(int widthTwips, int heightTwips)
{
    resize(clientPxOfWindowTwips(widthTwips, heightTwips));
    Form_Resize();
}

void MainWindow::loadSettingsForToolbar()
{
    if (m_settingsLoaded)
        return;
    LoadSettings(m_settings, m_ctx.iniPath);
    m_settingsLoaded = true;
    // Not one of the options: set by hand in the file, never written by the player.
    m_wideDrops = ReadIni(QStringLiteral("その他設定"), QStringLiteral("WideDrops"), QStringLiteral("0"), m_ctx.iniPath)
        == QLatin1String("1");
}

void MainWindow::SetupToolbar()
{
    loadSettingsForToolbar();
    m_toolbar->clear();
    const int size = m_settings.Op_09 == 1 ? 20 : 14;
    m_toolbar->setIconSize(QSize(size, size));
    struct Button {
        const char *key;
        int image; // 1-based index into the image list
        const char *tip;
    };
    static const Button buttons[] = {
        { "終了", 6, "終了" },
        { nullptr, 0, nullptr },
        { "前曲", 1, "前曲" },
        { "再生", 2, "再生" },
        { "一時", 3, "一時停止" },
        { "停止", 4, "停止" },
        { "次曲", 5, "次曲" },
        { nullptr, 0, nullptr },
        { "設定", 8, "設定" },
        { "変形", 9, "サイズ変更" },
        { "印刷", 10, "ＣＤジャケット" },
    };
    for (const Button &b : buttons) {
        if (!b.key) {
            m_toolbar->addSeparator();
            continue;
        }
        const QString key = QString::fromUtf8(b.key);
        QIcon icon(toolbarIcon(QString::fromUtf8(kToolbarImageKeys[b.image - 1]), size));
        QAction *a = m_toolbar->addAction(icon, QString());
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(QString::fromUtf8(b.tip));
    }
    m_slider->raise();
}

void MainWindow::Form_Resize()
{
    const int W = windowWidthTwips();
    const int H = windowHeightTwips();
    auto setWidth = [](QWidget *w, int twips) { w->resize(twipsToPx(twips), w->height()); };
    auto setHeight = [](QWidget *w, int twips) { w->resize(w->width(), twipsToPx(twips)); };
    m_toolbar->resize(width(), m_toolbar->height());
    setWidth(m_tab, W - 225);
    setWidth(m_lyricsBox, W - 360);
    setWidth(m_listView, W - 325);
    setWidth(m_shape2, W - 150);
    for (QLabel *l : m_kasi)
        setWidth(l, W - 495);
    if (H > kFullHeight) {
        setHeight(m_tab, H - 1920);
        setHeight(m_listView, H - 2310);
    } else {
        setHeight(m_tab, 2895);
        setHeight(m_listView, 2505);
    }
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void MainWindow::ToggleCompact()
{
    const int H = windowHeightTwips();
    const int target = H == kCompactHeight ? kFullHeight : H == kFullHeight ? kCompactHeight : kFullHeight;
    setWindowSizeTwips(kStartWidth, target);
}

bool MainWindow::repeatOn() const
{
    return m_repeatSet->isChecked();
}

QString MainWindow::playMode() const
{
    return m_label5->text();
}

void MainWindow::Label15_Click()
{
    if (m_repeatSet->isChecked()) {
        m_repeatSet->setChecked(false);
        m_label15->setText(QStringLiteral("Repeat-off"));
    } else {
        m_repeatSet->setChecked(true);
        m_label15->setText(QStringLiteral("Repeat-on"));
    }
}

void MainWindow::repeatSetClick()
{
    if (m_repeatSet->isChecked()) {
        m_repeatSet->setChecked(false);
        m_label15->setEnabled(false);
    } else {
        m_repeatSet->setChecked(true);
        m_label15->setEnabled(true);
    }
}

void MainWindow::label5Click()
{
    m_label5->setText(
        m_label5->text() == QStringLiteral("Normal") ? QStringLiteral("Random") : QStringLiteral("Normal"));
    m_state.CurrentTrackNo = 1;
}

bool MainWindow::BusyGuard()
{
    if (m_ctx.api.getState(nullptr) == VBMP3_PLAYING) {
        m_ctx.prompter->message(QStringLiteral("現在、再生中のため、この機能は利用できません！"));
        return true;
    }
    return false;
}

void MainWindow::slider1Change(int value)
{
    const auto v = static_cast<uint32_t>(value) & 0xFFFFu;
    showVolume(static_cast<int>(v));
    m_playback->setVolume((v << 16) | v);
    if (m_ctx.volume)
        m_ctx.volume->remember((v << 16) | v);
}

void MainWindow::showVolume(int value)
{
    m_volumeHex = QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
    m_lblVol->setText(QStringLiteral("Vol - %1").arg(value));
}

void MainWindow::Toolbar_ButtonClick(const QString &key)
{
    if (key == QStringLiteral("再生")) {
        m_playback->playPressed();
    } else if (key == QStringLiteral("停止")) {
        m_playback->StopTrack();
    } else if (key == QStringLiteral("一時")) {
        m_playback->PauseResume();
    } else if (key == QStringLiteral("次曲")) {
        m_playback->NextTrack();
    } else if (key == QStringLiteral("前曲")) {
        m_playback->previousPressed();
    } else if (key == QStringLiteral("変形")) {
        ToggleCompact();
    } else if (key == QStringLiteral("終了")) {
        close();
    } else if (key == QStringLiteral("印刷")) {
        if (BusyGuard())
            return;
        if (!m_print1) {
            m_print1 = new PrintWindow(m_playlist, m_ctx.prompter, &m_settings, this);
            m_print1->setOptionsHook([this] { openOptions(); });
        }
        m_print1->showModal();
    } else if (key == QStringLiteral("設定")) {
        openOptions();
    }
    // "検索" does nothing.
}

void MainWindow::openOptions()
{
    OptionsWindow::Context ctx { m_ctx.api, m_ctx.prompter, m_ctx.iniPath,
        [this] { return folderSearch()->currentFolder(); },
        [this](const QString &pattern) {
            m_searchPattern = pattern;
            folderSearch()->setPattern(pattern);
            applyDropRules();
        } };
    m_frmOpt1 = new OptionsWindow(m_settings, ctx, this);
    m_frmOpt1->formLoad();
    m_frmOpt1->exec();
    delete m_frmOpt1; // null when the main window went first
}

void MainWindow::showPopup(const QPoint &globalPos)
{
    emit popupShown();
    m_pop->popup(globalPos);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_listView->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *de = static_cast<QDropEvent *>(event);
            if (de->mimeData()->hasUrls()) {
                de->acceptProposedAction();
                return true;
            }
            break;
        }
        case QEvent::Drop: {
            auto *de = static_cast<QDropEvent *>(event);
            m_commands->DropFiles(PlaylistCommands::droppedPaths(de->mimeData()));
            de->acceptProposedAction();
            return true;
        }
        case QEvent::MouseButtonDblClick:
            // The double click plays the row clicked last, whatever lies under the mouse.
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                listViewDblClick();
                return true;
            }
            break;
        default:
            break;
        }
    }
    if (event->type() == QEvent::MouseButtonPress) {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::RightButton) {
            showPopup(me->globalPosition().toPoint());
            return watched != m_listView->viewport(); // the list still selects under the mouse
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        showPopup(event->globalPosition().toPoint());
    QWidget::mousePressEvent(event);
}

bool MainWindow::formLoad()
{
    if (!claimSingleInstance())
        return false;
    m_playback->start();
    resetPlayMode();
    SetupColumns();
    SetupToolbar();
    loadSettingsAndEqualizer();
    applyStartSize();
    loadDefaultPlaylist();
    presetStartupFolder();
    applySearchPattern();
    m_state.VideoSizeMode = 1;
    m_playback->setDecoderOptions();
    showStartVolume();
    return true;
}

bool MainWindow::claimSingleInstance()
{
    if (!m_ctx.instance || m_ctx.instance->tryAcquire())
        return true;
    m_ctx.prompter->message(QStringLiteral("このアプリケーションは重複起動することができません。"),
        Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
    m_unloaded = true; // the decoder library was never touched
    close();
    return false;
}

void MainWindow::resetPlayMode()
{
    m_state.CurrentTrackNo = 1;
    m_label5->setText(QStringLiteral("Normal"));
}

void MainWindow::loadSettingsAndEqualizer()
{
    LoadSettings(m_settings, m_ctx.iniPath);
    m_settingsLoaded = true;
    ApplyEqPreset(m_settings, m_ctx.api);
}

void MainWindow::applyStartSize()
{
    setWindowSizeTwips(kStartWidth, m_settings.Op_03 == 1 ? kCompactHeight : kFullHeight);
}

void MainWindow::loadDefaultPlaylist()
{
    if (m_settings.Op_04 != 1 || m_settings.Op_14.isEmpty())
        return;
    if (isRegularFile(m_settings.Op_14))
        m_commands->LoadM3u(TrimNull(m_settings.Op_14));
    else
        m_ctx.prompter->message(QStringLiteral("指定の起動時用m3uファイルがみつかりません。Ｌｏａｄを中止します."));
}

void MainWindow::presetStartupFolder()
{
    if (m_settings.Op_07 == 1 && !m_settings.Op_17.isEmpty()
        && !folderSearch()->presetFolder(TrimNull(m_settings.Op_17)))
        m_ctx.prompter->message(QStringLiteral("指定のドライブ及びフォルダがみつかりません。Ｌｏａｄを中止します."));
}

void MainWindow::applySearchPattern()
{
    m_searchPattern = BuildSearchPattern(m_settings);
    folderSearch()->setPattern(m_searchPattern);
    applyDropRules();
}

void MainWindow::applyDropRules()
{
    m_adder->setDropRules({ m_wideDrops, m_searchPattern });
}

void MainWindow::showStartVolume()
{
    // The library starts at full volume; the one the user left last time stands in for
    // the system's wave-out volume.
    if (m_ctx.volume) {
        if (const std::optional<uint32_t> kept = m_ctx.volume->stored())
            m_playback->setVolume(*kept);
    }
    m_volumeWord = m_playback->volume();
    const int right = static_cast<int>(m_volumeWord >> 16);
    m_slider->setValue(right);
    showVolume(right);
}

void MainWindow::formUnload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_playback->stopTimers();
    closeOtherWindows();
    m_adder->stop(); // no worker reads tags through the library once it is freed
    m_playback->shutdown();
}

void MainWindow::closeOtherWindows()
{
    m_videoWindow->closeVideo();
    if (m_folderSearch)
        m_folderSearch->close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    formUnload();
    event->accept();
}

void MainWindow::showReadOut(ReadOut which, const QString &text)
{
    QLabel *const labels[] = { m_lblNumber, m_lblTime, m_lblTime2, m_label6, m_label7, m_lblArt, m_lblTitle };
    labels[static_cast<int>(which)]->setText(text);
}

void MainWindow::setSeekRange(int maximum)
{
    m_seekbar->setMaximum(maximum);
    m_seekbar->setMinimum(0);
}

void MainWindow::setSeekValue(int seconds)
{
    if (!m_seekbar->isSliderDown())
        m_seekbar->setValue(seconds);
}

void MainWindow::selectTab(int index)
{
    m_tab->setCurrentIndex(index);
}

void MainWindow::showLyricsLine(int index, const QString &text)
{
    m_kasi[index]->setText(text);
}

void MainWindow::highlightCurrentLine()
{
    QPalette pal = m_kasi[2]->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 255, 0));
    m_kasi[2]->setPalette(pal);
}

void MainWindow::drawSpectrum(const int32_t *first, const int32_t *second)
{
    m_wavebox->DrawSpectrum(first, second);
}

void MainWindow::clearSpectrum()
{
    m_wavebox->clearBox();
}

void MainWindow::minimizeForVideo()
{
    showMinimized();
}

void MainWindow::restoreFromVideo()
{
    showNormal();
}

} // namespace kes
